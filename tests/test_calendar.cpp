// The calendar conversion of the wall clock, bit for bit, at any precision the host set.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/calendar.h"
#include "platform/fpu.h"

namespace {

std::uint64_t Bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

TEST(DayValueFromCivil, BitForBit) {
    const struct {
        int year, month, day, hour, minute, second, millisecond;
        std::uint64_t bits;
        const char* name;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0, 0, 0x0000000000000000u, "day 0"},
        {1900, 1, 1, 0, 0, 0, 0, 0x4000000000000000u, "the NTP epoch, day 2"},
        {1900, 3, 1, 0, 0, 0, 0, 0x404E800000000000u, "61: 1900 has no 29 February"},
        {1970, 1, 1, 0, 0, 0, 1, 0x40D8F84000000C6Du, "a millisecond into 1970"},
        {2000, 2, 29, 0, 0, 0, 0, 0x40E1DD2000000000u, "36585: 2000 has one"},
        {2000, 3, 1, 0, 0, 0, 0, 0x40E1DD4000000000u, "36586"},
        {2024, 1, 31, 12, 0, 0, 0, 0x40E6215000000000u, "the end of January"},
        {2024, 2, 29, 18, 30, 0, 250, 0x40E624F8AAB0BC1Du, "a leap day's evening"},
        {2036, 2, 7, 6, 28, 16, 0, 0x40E84608A0CE5129u, "the end of NTP era 0"},
        {2099, 12, 31, 23, 59, 59, 999, 0x40F1D5AFFFFFFCE5u, "the last millisecond of 2099"},
    };
    const std::uint16_t original = platform::ReadFpuControlWord();
    // 64-bit, 53-bit and 24-bit precision: a host may have set any of them.
    for (std::uint16_t word : {std::uint16_t{0x037F}, std::uint16_t{0x027F}, std::uint16_t{0x007F}}) {
        for (const auto& c : cases) {
            platform::WriteFpuControlWord(word);
            const double value = platform::DayValueFromCivil(c.year, c.month, c.day, c.hour,
                                                             c.minute, c.second, c.millisecond);
            const std::uint16_t after = platform::ReadFpuControlWord();
            platform::WriteFpuControlWord(original);
            EXPECT_EQ(Bits(value), c.bits) << c.name << ", control word " << std::hex << word;
            EXPECT_EQ(after, word) << "the host's control word is given back";
        }
    }
}

}  // namespace
