// Holds the x87 unit at a 64-bit significand with rounding to nearest for the length of a scope,
// whatever the host program set, and gives the host its own control word back afterwards.
#pragma once

#include <cstdint>

namespace platform {

class ExtendedPrecisionScope {
public:
    ExtendedPrecisionScope();
    ~ExtendedPrecisionScope();
    ExtendedPrecisionScope(const ExtendedPrecisionScope&) = delete;
    ExtendedPrecisionScope& operator=(const ExtendedPrecisionScope&) = delete;

private:
    std::uint16_t saved_;
};

// Rounds an extended value to double through memory, so that no excess precision survives in a
// register (on i686 every double lives in an x87 register).
double RoundToDouble(long double value);

// The x87 control word, read and set; for tests that play a host with other settings.
std::uint16_t ReadFpuControlWord();
void WriteFpuControlWord(std::uint16_t word);

}  // namespace platform
