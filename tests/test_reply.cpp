// The reading of a reply: its header in wire order, the test of its source, and the judgements of
// what it says, on datagrams written out byte by byte.
#include <gtest/gtest.h>

#include <cstdint>

#include "sntp/reply.h"

namespace {

// A reply of stratum 2 from a server whose clock was synchronised a minute before it answered.
const sntp::Message kReply = {
    0x24,                    // leap 0, version 4, mode 4 (server)
    0x02,                    // stratum 2
    0x06,                    // poll 2^6 s
    0xEC,                    // precision 2^-20 s
    0x00, 0x00, 0x01, 0x80,  // root delay 0x0180 / 2^16 s (5.859 ms)
    0x80, 0x00, 0x00, 0x40,  // root dispersion, its top bit set (read as a sign by this client)
    'G',  'P',  'S',  0x00,  // reference identifier
    0xE9, 0x3C, 0x7E, 0xC4, 0x00, 0x00, 0x00, 0x00,  // reference: 2023-12-31 23:59:00
    0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0,  // origin: the client's transmit value, echoed
    0xE9, 0x3C, 0x7F, 0x00, 0x80, 0x00, 0x00, 0x00,  // receive: 2024-01-01 00:00:00.5
    0xE9, 0x3C, 0x7F, 0x00, 0x80, 0x00, 0x00, 0x01,  // transmit: the same, and 2^-32 s later
};

TEST(DecodeHeader, EveryFieldInWireOrder) {
    const sntp::Header h = sntp::DecodeHeader(kReply.data());
    EXPECT_EQ(h.leap(), 0);
    EXPECT_EQ(h.version(), 4);
    EXPECT_EQ(h.mode(), 4);
    EXPECT_EQ(h.stratum, 2);
    EXPECT_EQ(h.poll, 6);
    EXPECT_EQ(h.precision, -20);
    EXPECT_EQ(h.rootDelay, 0x00000180u);
    EXPECT_EQ(h.rootDispersion, 0x80000040u);
    EXPECT_EQ(h.referenceId, 0x47505300u);  // "GPS\0", the first byte highest
    EXPECT_EQ(h.referenceTime, 0xE93C7EC400000000u);
    EXPECT_EQ(h.originTime, 0x123456789ABCDEF0u);
    EXPECT_EQ(h.receiveTime, 0xE93C7F0080000000u);
    EXPECT_EQ(h.transmitTime, 0xE93C7F0080000001u);
}

TEST(DecodeHeader, LeapVersionAndModeBits) {
    const struct {
        std::uint8_t first;
        int leap, version, mode;
    } cases[] = {
        {0x1B, 0, 3, 3},  // 00 011 011: a version-3 client
        {0x24, 0, 4, 4},  // 00 100 100: a version-4 server
        {0x25, 0, 4, 5},  // 00 100 101: a broadcast
        {0xDC, 3, 3, 4},  // 11 011 100: unsynchronised
        {0x7F, 1, 7, 7},  // 01 111 111
        {0x00, 0, 0, 0},
    };
    for (const auto& c : cases) {
        sntp::Message m = kReply;
        m[0] = c.first;
        const sntp::Header h = sntp::DecodeHeader(m.data());
        EXPECT_EQ(h.leap(), c.leap) << std::hex << int{c.first};
        EXPECT_EQ(h.version(), c.version) << std::hex << int{c.first};
        EXPECT_EQ(h.mode(), c.mode) << std::hex << int{c.first};
    }
}

TEST(IsAcceptedSource, TheServerOrThisMachine) {
    const platform::IPv4 server = platform::IPv4FromBytes(198, 18, 0, 2);
    const struct {
        platform::IPv4 source;
        bool accepted;
        const char* name;
    } cases[] = {
        {server, true, "the server"},
        {platform::IPv4FromBytes(127, 0, 0, 1), true, "the loopback address"},
        {platform::IPv4FromBytes(127, 0, 0, 2), false, "another loopback address"},
        {platform::IPv4FromBytes(198, 18, 0, 3), false, "a neighbour of the server"},
        {platform::IPv4FromBytes(2, 0, 18, 198), false, "the server's bytes reversed"},
        {platform::IPv4FromBytes(0, 0, 0, 0), false, "the zero address"},
    };
    for (const auto& c : cases) EXPECT_EQ(sntp::IsAcceptedSource(c.source, server), c.accepted) << c.name;
    // A query of this machine's own loopback address takes its replies from there.
    EXPECT_TRUE(sntp::IsAcceptedSource(platform::IPv4FromBytes(127, 0, 0, 1),
                                       platform::IPv4FromBytes(127, 0, 0, 1)));
}

// One byte changed at a time must give the judgement it should.
TEST(IsInvalidReply, OneByteAtATime) {
    EXPECT_FALSE(sntp::IsInvalidReply(kReply.data()));
    for (int i = 0; i < sntp::kMessageSize; ++i) {
        for (int value : {0x00, 0xFF}) {
            sntp::Message m = kReply;
            m[i] = static_cast<std::uint8_t>(value);
            bool expected = false;
            if (i == sntp::kLeapVersionMode) expected = value == 0xFF;  // leap 3
            if (i == sntp::kStratum) expected = true;                    // stratum 0 or 255
            EXPECT_EQ(sntp::IsInvalidReply(m.data()), expected) << "byte " << i << " = " << value;
        }
    }
}

TEST(IsInvalidReply, SanityTable) {
    const struct {
        const char* name;
        void (*change)(sntp::Message&);
        bool invalid;
    } cases[] = {
        {"sound reply", [](sntp::Message&) {}, false},
        {"stratum 15", [](sntp::Message& m) { m[1] = 15; }, false},
        {"stratum 16", [](sntp::Message& m) { m[1] = 16; }, true},
        {"stratum 0", [](sntp::Message& m) { m[1] = 0; }, true},
        {"stratum 255", [](sntp::Message& m) { m[1] = 255; }, true},
        {"leap 3", [](sntp::Message& m) { m[0] = 0xE4; }, true},
        {"leap 3 stratum 1", [](sntp::Message& m) { m[0] = 0xDC; m[1] = 1; }, true},
        {"leap 1", [](sntp::Message& m) { m[0] = 0x64; }, false},
        {"transmit zero", [](sntp::Message& m) { for (int i = 40; i < 48; ++i) m[i] = 0; }, true},
        {"transmit ...01",
         [](sntp::Message& m) { for (int i = 40; i < 47; ++i) m[i] = 0; m[47] = 1; }, false},
        {"mode 0", [](sntp::Message& m) { m[0] = 0x20; }, false},
        {"version 7", [](sntp::Message& m) { m[0] = 0x3C; }, false},
    };
    for (const auto& c : cases) {
        sntp::Message reply{};
        reply[0] = 0x24;  // leap 0, version 4, mode 4
        reply[1] = 2;
        for (int i = 40; i < 48; ++i) reply[i] = static_cast<std::uint8_t>(0xE0 + i);
        c.change(reply);
        EXPECT_EQ(sntp::IsInvalidReply(reply.data()), c.invalid) << c.name;
    }
}

TEST(IsServerAnswer, ModeFourWithAReceiveTime) {
    const struct {
        const char* name;
        void (*change)(sntp::Message&);
        bool answer;
    } cases[] = {
        {"server reply", [](sntp::Message&) {}, true},
        {"broadcast: mode 5, no receive time",
         [](sntp::Message& m) { m[0] = 0x25; for (int i = 32; i < 40; ++i) m[i] = 0; }, false},
        {"mode 5 with a receive time", [](sntp::Message& m) { m[0] = 0x25; }, false},
        {"client request: mode 3", [](sntp::Message& m) { m[0] = 0x23; }, false},
        {"symmetric active: mode 1", [](sntp::Message& m) { m[0] = 0x21; }, false},
        {"mode 0", [](sntp::Message& m) { m[0] = 0x20; }, false},
        {"receive time zero", [](sntp::Message& m) { for (int i = 32; i < 40; ++i) m[i] = 0; }, false},
        {"receive time ...01",
         [](sntp::Message& m) { for (int i = 32; i < 39; ++i) m[i] = 0; m[39] = 1; }, true},
        {"version 1, leap 3: not this test's business", [](sntp::Message& m) { m[0] = 0xCC; }, true},
    };
    for (const auto& c : cases) {
        sntp::Message reply{};
        reply[0] = 0x24;  // leap 0, version 4, mode 4
        reply[1] = 2;
        for (int i = 32; i < 48; ++i) reply[i] = static_cast<std::uint8_t>(0xE0 + i);
        c.change(reply);
        EXPECT_EQ(sntp::IsServerAnswer(reply.data()), c.answer) << c.name;
    }
}

}  // namespace
