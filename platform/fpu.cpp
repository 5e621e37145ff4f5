// The x87 control word. Its precision field (bits 8-9) is 3 for a 64-bit significand, its rounding
// field (bits 10-11) 0 for rounding to nearest.
#include "platform/fpu.h"

#if !defined(__i386__) && !defined(__x86_64__)
#error "the time arithmetic needs the x87 extended format"
#endif

namespace platform {

std::uint16_t ReadFpuControlWord() {
    std::uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word) : : "memory");
    return word;
}

void WriteFpuControlWord(std::uint16_t word) {
    __asm__ volatile("fldcw %0" : : "m"(word) : "memory");
}

double RoundToDouble(long double value) {
    volatile double stored = static_cast<double>(value);
    return stored;
}

ExtendedPrecisionScope::ExtendedPrecisionScope() : saved_(ReadFpuControlWord()) {
    const std::uint16_t extended = static_cast<std::uint16_t>((saved_ & ~0x0F00u) | 0x0300u);
    if (extended != saved_) WriteFpuControlWord(extended);
}

ExtendedPrecisionScope::~ExtendedPrecisionScope() {
    if (ReadFpuControlWord() != saved_) WriteFpuControlWord(saved_);
}

}  // namespace platform
