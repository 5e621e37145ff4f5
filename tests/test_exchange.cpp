// The arithmetic and judgements of one exchange of the extended query, on values written out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sntp/exchange.h"

namespace {

using sntp::NtpTime;

TEST(SplitServerText, HostsPortsAndBrackets) {
    const struct {
        const char* text;
        bool ok;
        const char* host;
        int port;
    } cases[] = {
        {"time.example", true, "time.example", -1},
        {"time.example:1234", true, "time.example", 1234},
        {"192.0.2.1", true, "192.0.2.1", -1},
        {"192.0.2.1:123", true, "192.0.2.1", 123},
        {"2001:db8::1", true, "2001:db8::1", -1},  // several colons: all of it is the host
        {"[2001:db8::1]", true, "2001:db8::1", -1},
        {"[2001:db8::1]:65535", true, "2001:db8::1", 65535},
        {"[fe80::1%eth0]:123", true, "fe80::1%eth0", 123},
        {"", false, "", -1},
        {":123", false, "", -1},
        {"host:", false, "", -1},
        {"host:0", false, "", -1},
        {"host:65536", false, "", -1},
        {"host:123456", false, "", -1},
        {"host:-1", false, "", -1},
        {"[2001:db8::1", false, "", -1},
        {"[2001:db8::1]123", false, "", -1},
        {"[192.0.2.1]", false, "", -1},  // brackets hold IPv6 text only
        {"[]", false, "", -1},
        {"two words", false, "", -1},
    };
    for (const auto& c : cases) {
        std::string host;
        int port = 0;
        EXPECT_EQ(sntp::SplitServerText(c.text, host, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

TEST(BuildClientRequest, VersionFourClientWithTheTransmitValue) {
    const sntp::Message request = sntp::BuildClientRequest(0x0123456789ABCDEFu);
    EXPECT_EQ(request[0], 0x23);  // leap 0, version 4, mode 3
    for (int i = 1; i < 40; ++i) EXPECT_EQ(request[i], 0) << "byte " << i;
    const std::uint8_t transmit[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(request[40 + i], transmit[i]);
}

sntp::Message AnswerTo(NtpTime transmitValue) {
    sntp::Message m{};
    m[0] = 0x24;  // leap 0, version 4, mode 4
    m[1] = 2;
    for (int i = 0; i < 8; ++i) m[24 + i] = static_cast<std::uint8_t>(transmitValue >> (56 - 8 * i));
    return m;
}

TEST(AnswersRequest, LengthModeAndOrigin) {
    const NtpTime value = 0xFEEDFACECAFEBEEFu;
    const sntp::Message answer = AnswerTo(value);
    EXPECT_TRUE(sntp::AnswersRequest(answer.data(), 48, value));
    EXPECT_TRUE(sntp::AnswersRequest(answer.data(), 68, value)) << "with an extension or a MAC";
    for (std::size_t length = 0; length < 48; ++length)
        EXPECT_FALSE(sntp::AnswersRequest(answer.data(), length, value)) << length;
    EXPECT_FALSE(sntp::AnswersRequest(answer.data(), 48, value ^ 1)) << "another request's";
    EXPECT_FALSE(sntp::AnswersRequest(answer.data(), 48, 0)) << "an origin of zero";
    for (std::uint8_t first : {0x23, 0x25, 0x21, 0x20}) {  // client, broadcast, active, reserved
        sntp::Message m = answer;
        m[0] = first;
        EXPECT_FALSE(sntp::AnswersRequest(m.data(), 48, value)) << std::hex << int{first};
    }
}

TEST(JudgeAnswer, ReasonsOfAMatchingReply) {
    const struct {
        const char* name;
        std::uint8_t first, stratum;
        NtpTime receive, transmit;
        sntp::Reason reason;
    } cases[] = {
        {"sound", 0x24, 2, 0xE93C7F0000000000u, 0xE93C7F0000000001u, sntp::kReasonOk},
        {"received and sent at once", 0x24, 1, 0xE93C7F0000000000u, 0xE93C7F0000000000u, sntp::kReasonOk},
        {"across the era", 0x24, 2, 0xFFFFFFFF00000000u, 0x0000000100000000u, sntp::kReasonOk},
        {"stratum 0", 0x24, 0, 1, 2, sntp::kReasonKiss},
        {"leap 3", 0xE4, 2, 1, 2, sntp::kReasonUnsynchronised},
        {"stratum 16", 0x24, 16, 1, 2, sntp::kReasonUnsynchronised},
        {"stratum 255", 0x24, 255, 1, 2, sntp::kReasonUnsynchronised},
        {"no transmit time", 0x24, 2, 1, 0, sntp::kReasonBadReply},
        {"sent before received", 0x24, 2, 0xE93C7F0000000001u, 0xE93C7F0000000000u, sntp::kReasonBadReply},
    };
    for (const auto& c : cases) {
        sntp::Header h{};
        h.leapVersionMode = c.first;
        h.stratum = c.stratum;
        h.receiveTime = c.receive;
        h.transmitTime = c.transmit;
        EXPECT_EQ(sntp::JudgeAnswer(h), c.reason) << c.name;
    }
}

TEST(KissCode, TheReferenceIdentifierOfStratumZero) {
    sntp::Header h{};
    h.referenceId = 0x52415445;  // "RATE"
    EXPECT_EQ(sntp::KissCode(h), "RATE");
    h.referenceId = 0x44454E59;  // "DENY"
    EXPECT_EQ(sntp::KissCode(h), "DENY");
    h.referenceId = 0x41435354;  // "ACST"
    EXPECT_EQ(sntp::KissCode(h), "ACST");
    h.referenceId = 0x58000000;  // "X" and zeros
    EXPECT_EQ(sntp::KissCode(h), "X");
    h.referenceId = 0x01020304;  // not text
    EXPECT_EQ(sntp::KissCode(h), "");
    h.referenceId = 0x52415445;
    h.stratum = 2;
    EXPECT_EQ(sntp::KissCode(h), "") << "only stratum 0 kisses";
}

TEST(NtpTime, UnixAndNtpBothWays) {
    // 1970-01-01 is NTP second 2208988800 (0x83AA7E80); 2036-02-07 06:28:16 is where era 1 begins.
    EXPECT_EQ(sntp::NtpFromUnixNs(0), 0x83AA7E8000000000u);
    EXPECT_EQ(sntp::NtpFromUnixNs(500000000), 0x83AA7E8080000000u);  // half a second
    EXPECT_EQ(sntp::NtpFromUnixNs(-1000000000), 0x83AA7E7F00000000u);
    const std::int64_t eraOne = 2085978496LL * 1000000000;  // 2036-02-07 06:28:16 UTC
    EXPECT_EQ(sntp::NtpFromUnixNs(eraOne), 0u);
    // Back, in the era nearest the reference: a timestamp of era 1 read in 2036 and one of era 0
    // read in 2035.
    EXPECT_EQ(sntp::UnixNsFromNtp(0x0000000100000000u, eraOne - 10), eraOne + 1000000000);
    EXPECT_EQ(sntp::UnixNsFromNtp(0xFFFFFFFF00000000u, eraOne + 10), eraOne - 1000000000);
    // To the nanosecond, both ways, for times around now and around the era's turn.
    for (std::int64_t t : {std::int64_t{1765432109876543210}, eraOne + 123456789, eraOne - 987654321,
                           std::int64_t{0}}) {
        const std::int64_t back = sntp::UnixNsFromNtp(sntp::NtpFromUnixNs(t), t + 3600000000000);
        EXPECT_LE(std::llabs(back - t), 1) << t;
    }
}

TEST(ComputeOffsetAndDelay, OnFixedPointDifferences) {
    const NtpTime s = 0x0000000100000000u;  // one second in 2^-32 s
    const NtpTime base = 0xE93C7F0000000000u;
    const struct {
        const char* name;
        NtpTime t1, t2, t3, t4;
        std::int64_t offset, delay;
    } cases[] = {
        {"exact clocks, 1/8 s each way", base, base + s / 8, base + s / 8, base + s / 4, 0,
         static_cast<std::int64_t>(s / 4)},
        {"server a second ahead, held 1/16 s", base, base + s + s / 8, base + s + s / 8 + s / 16,
         base + s / 4 + s / 16, static_cast<std::int64_t>(s), static_cast<std::int64_t>(s / 4)},
        {"server an hour behind", base, base - 3600 * s, base - 3600 * s, base,
         -3600 * static_cast<std::int64_t>(s), 0},
        {"across the era: the client in era 0, the server in era 1", 0xFFFFFFFF00000000u,
         0x0000000A00000000u, 0x0000000A00000000u, 0xFFFFFFFF00000000u,
         11 * static_cast<std::int64_t>(s), 0},
        {"one unit of 2^-32 s", base, base + 1, base + 1, base, 1, 0},
        {"half a unit each way rounds down", base, base + 1, base, base, 0, 1},
    };
    for (const auto& c : cases) {
        const sntp::OffsetAndDelay r = sntp::ComputeOffsetAndDelay(c.t1, c.t2, c.t3, c.t4);
        EXPECT_EQ(r.offset, c.offset) << c.name;
        EXPECT_EQ(r.delay, c.delay) << c.name;
    }
    EXPECT_EQ(sntp::FixedToSeconds(static_cast<std::int64_t>(s) / 2), 0.5);
    EXPECT_EQ(sntp::FixedToSeconds(-static_cast<std::int64_t>(s)), -1.0);
    EXPECT_EQ(sntp::ShortToSeconds(0x00018000u), 1.5);
}

TEST(ReasonText, EveryReasonHasItsOwn) {
    std::string seen;
    for (std::uint16_t r = 0; r <= 7; ++r) {
        const std::string text = sntp::ReasonText(r);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(seen.find("|" + text + "|"), std::string::npos) << text;
        seen += "|" + text + "|";
    }
    EXPECT_STREQ(sntp::ReasonText(8), "unknown reason");
    EXPECT_STREQ(sntp::ReasonText(65535), "unknown reason");
}

}  // namespace
