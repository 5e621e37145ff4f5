// The message conversions, compared as exact bit patterns.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/fpu.h"
#include "sntp/message.h"

namespace {

std::uint64_t Bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        while (text[i] == ' ') ++i;
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

struct TimestampCase {
    const char* bytes;
    std::uint64_t dayValueBits;
    const char* meaning;
};

// Seconds fields with their top bit 0 lie in the era after 2036-02-07 06:28:16.
const TimestampCase kTimestamps[] = {
    {"00 00 00 00 00 00 00 00", 0x40e84608a0ce5129, "49712.26962962963, 2036-02-07 06:28:16"},
    {"80 00 00 00 00 00 00 00", 0x40d84648a0ce5129, "24857.134814814814, 1968-01-20 03:14:08"},
    {"12 34 56 78 00 00 00 00", 0x40e9ffe71baf98d7, "53247.22212962963, 2045-10-12 05:19:52"},
    {"92 34 56 78 00 00 00 00", 0x40dbba059690e086, "28392.087314814817, 1977-09-24 02:05:44"},
    {"BF 45 48 80 80 00 00 00", 0x40e222e25edcba98, "37143.07407986111, 2001-09-09 01:46:40.5"},
    {"BF 45 48 80 40 00 00 FF", 0x40e222e25ed6a926, "37143.07407696759, 01:46:40.25"},
    {"BF 45 48 80 80 00 01 00", 0x40e222e25edcba98, "byte 6 is finer than the day value"},
    {"BF 45 48 80 80 00 FF 00", 0x40e222e25edcbab0, "37143.07407986128"},
    {"BF 45 48 80 90 00 00 00", 0x40e222e25ede3ef5, "37143.07408058449, 01:46:40.5625"},
    {"E9 3C 7F 00 00 00 00 00", 0x40e61d8000000000, "45292.0, 2024-01-01 00:00:00"},
    {"7F FF FF FF 00 00 00 00", 0x40f23476788e99fb, "74567.40443287037, 2104-02-26 09:42:23"},
    {"FF FF FF FF FF FF FF FF", 0x40e84608a0ce512a, "49712.269629629634, 2036-02-07 06:28:16"},
};

void ExpectAllTimestamps() {
    for (const TimestampCase& c : kTimestamps) {
        std::vector<std::uint8_t> ts = Hex(c.bytes);
        EXPECT_EQ(Bits(sntp::NtpTimestampToDayValue(ts.data())), c.dayValueBits)
            << c.bytes << " should give " << c.meaning;
        // The last byte is never read.
        for (int b7 : {0x00, 0x01, 0x80, 0xFF}) {
            ts[7] = static_cast<std::uint8_t>(b7);
            EXPECT_EQ(Bits(sntp::NtpTimestampToDayValue(ts.data())), c.dayValueBits) << c.bytes;
        }
    }
}

TEST(NtpTimestamp, WorkedExamplesBitForBit) { ExpectAllTimestamps(); }

// A host may have set the x87 unit to double or single precision; the results stay the same and
// the host's control word is given back as found.
TEST(NtpTimestamp, ResultsDoNotDependOnTheHostPrecision) {
    const std::uint16_t original = platform::ReadFpuControlWord();
    for (std::uint16_t word : {std::uint16_t{0x027F}, std::uint16_t{0x007F},
                               std::uint16_t{0x0E7F}, std::uint16_t{0x037F}}) {
        platform::WriteFpuControlWord(word);
        ExpectAllTimestamps();
        EXPECT_EQ(Bits(sntp::EstimateServerTime(37143.07408058449, 37143.07407986111, 200)),
                  0x40e222e25edfea27u);
        EXPECT_EQ(sntp::NtpShortToSeconds(Hex("7F FF FF FF").data()), 32767.9999847412109375);
        EXPECT_EQ(platform::ReadFpuControlWord(), word) << "control word changed";
    }
    platform::WriteFpuControlWord(original);
}

TEST(NtpShort, SignAndMagnitude) {
    const struct {
        const char* bytes;
        double seconds;
    } cases[] = {
        {"00 01 80 00", 1.5},
        {"80 01 80 00", -1.5},
        {"00 00 00 01", 1.52587890625e-05},
        {"FF FF FF FF", -32767.9999847412109375},
        {"00 00 00 00", 0.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bits(sntp::NtpShortToSeconds(Hex(c.bytes).data())), Bits(c.seconds)) << c.bytes;
    const double negativeZero = sntp::NtpShortToSeconds(Hex("80 00 00 00").data());
    EXPECT_EQ(Bits(negativeZero), 0x8000000000000000u);
}

TEST(SignedByte, TwosComplement) {
    EXPECT_EQ(sntp::SignedByte(0x06), 6);
    EXPECT_EQ(sntp::SignedByte(0xFA), -6);
    EXPECT_EQ(sntp::SignedByte(0x7F), 127);
    EXPECT_EQ(sntp::SignedByte(0x80), -128);
    EXPECT_EQ(sntp::SignedByte(0xFF), -1);
}

TEST(TickDifference, ModuloTwoToThe30) {
    const struct {
        std::uint32_t later, earlier;
        std::int32_t difference;
    } cases[] = {
        {1000, 880, 120},
        {0x00000012, 0xFFFFFFF0, 34},          // across the wrap of the 32-bit tick
        {0x40000005, 0x3FFFFFFB, 10},          // larger earlier tick after masking
        {0x80000003, 0x7FFFFFFF, 4},           // across 2^31
        {880, 1000, 1073741704},               // a later tick before the earlier one
        {12345, 12345, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sntp::TickDifference(c.later, c.earlier), c.difference)
            << std::hex << c.later << " - " << c.earlier;
}

TEST(EstimateServerTime, HalfOfTheNetworkTimeAfterTransmit) {
    const double t2 = 37143.07407986111;  // 01:46:40.5
    const double t3 = 37143.07408058449;  // 01:46:40.5625
    EXPECT_EQ(Bits(sntp::EstimateServerTime(t3, t2, 200)), Bits(37143.074081380204));
    // A round trip shorter than the hold time puts the estimate before the transmit time.
    EXPECT_EQ(Bits(sntp::EstimateServerTime(t3, t2, 0)), Bits(37143.074080222796));
    EXPECT_LT(sntp::EstimateServerTime(t3, t2, 0), t3);
}

// The offset is the difference of two day values, rounded once, whatever precision the host set.
TEST(DayValueDifference, RoundedOnceAtAnyHostPrecision) {
    const double server = 45292.000011574074;  // 2024-01-01 00:00:01
    const double local = 45292.0;
    const std::uint16_t original = platform::ReadFpuControlWord();
    for (std::uint16_t word : {std::uint16_t{0x037F}, std::uint16_t{0x027F}, std::uint16_t{0x007F}}) {
        platform::WriteFpuControlWord(word);
        const double difference = sntp::DayValueDifference(server, local);
        const std::uint16_t after = platform::ReadFpuControlWord();
        platform::WriteFpuControlWord(original);
        EXPECT_EQ(Bits(difference), Bits(server - local)) << std::hex << word;
        EXPECT_EQ(after, word) << "the host's control word is given back";
    }
}

TEST(Request, VersionOneClientAndZeros) {
    const sntp::Message request = sntp::BuildRequest();
    EXPECT_EQ(request[0], 0x0B);
    for (int i = 1; i < sntp::kMessageSize; ++i) EXPECT_EQ(request[i], 0) << "byte " << i;
}

}  // namespace
