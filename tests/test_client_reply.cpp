// Reply processing: which datagrams are accepted, what each way out of the handler leaves behind,
// and the timing of the reply with the millisecond tick.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/support/fixture.h"

namespace {

using testing_support::ClientTest;
using testing_support::PumpUntil;
using testing_support::Responder;
using testing_support::ResponderScript;

class ReplyTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        REQUIRE_PORT_123();
    }

    // Starts a query of the responder at 127.0.0.2.
    void StartAgainst(const Responder& server) {
        client.HostAddr = "127.0.0.2";
        client.HostPort = std::to_string(server.port());
        client.StartQuery();
    }

    bool SocketsClosed() const {
        return client.QuerySocket->State() == wsClosed && client.ListenSocket->State() == wsClosed;
    }

    bool WaitForEventOrClose(int ms) {
        return PumpUntil([this] { return !events.empty() || SocketsClosed(); }, ms);
    }
};

TEST_F(ReplyTest, AcceptedReplyInTimeSetsEveryField) {
    ResponderScript script;
    script.leap = 1;
    script.version = 3;
    script.stratum = 3;
    script.poll = -6;
    script.precision = -20;
    script.edit = [](sntp::Message& m) {
        const std::uint8_t delay[4] = {0x00, 0x01, 0x80, 0x00};       // 1.5 s
        const std::uint8_t dispersion[4] = {0x80, 0x00, 0x40, 0x00};  // -0.25 s
        std::memcpy(&m[sntp::kRootDelay], delay, 4);
        std::memcpy(&m[sntp::kRootDispersion], dispersion, 4);
    };
    Responder server("127.0.0.2", 0, script);
    client.SetTimeout(2000);
    StartAgainst(server);
    ASSERT_TRUE(WaitForEventOrClose(3000));
    ASSERT_EQ(events, std::vector<std::string>{"DataAvailable 0"});
    EXPECT_TRUE(SocketsClosed());
    EXPECT_TRUE(client.ReplyReceived);
    EXPECT_FALSE(client.TimedOut);
    EXPECT_FALSE(client.ReplyInvalid);
    EXPECT_EQ(client.LeapIndicator, 1);
    EXPECT_EQ(client.VersionNumber, 3);
    EXPECT_EQ(client.Mode, 4);
    EXPECT_EQ(client.Stratum, 3);
    EXPECT_EQ(client.Poll, -6);
    EXPECT_EQ(client.Precision, -20);
    EXPECT_EQ(client.RootDelay, 1.5);
    EXPECT_EQ(client.RootDispersion, -0.25);
    EXPECT_EQ(client.RawReply[sntp::kReferenceId], 'T');
    EXPECT_EQ(client.RoundTrip, static_cast<std::int32_t>(client.ReceiveTick - client.SendTick));
    EXPECT_GE(client.RoundTrip, 0);
    EXPECT_LT(client.RoundTrip, 2000);
    EXPECT_EQ(client.LastTransmitTimestamp, client.TransmitTimestamp);
    EXPECT_EQ(client.ServerTime, client.ServerTimeEstimate);
    EXPECT_EQ(client.ServerTime, sntp::EstimateServerTime(client.TransmitTimestamp,
                                                          client.ReceiveTimestamp, client.RoundTrip));
    // The server's clock is the true UTC time here.
    EXPECT_NEAR(client.ServerTime, testing_support::UtcDayValueNow(), 1.0 / 86400);
    EXPECT_LT(client.ReferenceTimestamp, client.ReceiveTimestamp);
}

TEST_F(ReplyTest, ErrorCodeOfTheNotificationIsPassedOn) {
    Responder server("127.0.0.2", 0);
    StartAgainst(server);
    ASSERT_TRUE(server.WaitForRequests(1, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the reply is on its way
    client.SocketDataAvailable(client.QuerySocket, 10054);
    EXPECT_EQ(events, std::vector<std::string>{"DataAvailable 10054"});
}

// The round trip is timed with the millisecond tick: equal to Timeout is in time, one more is
// too late, and the wrap of the tick between send and receipt changes nothing.
TEST_F(ReplyTest, RoundTripAgainstTimeout) {
    const struct {
        const char* name;
        std::uint32_t sendTick, receiveTick;
        std::int32_t timeout;
        std::int32_t roundTrip;
        bool inTime;
    } cases[] = {
        {"equal to Timeout", 1000, 1500, 500, 500, true},
        {"one more than Timeout", 1000, 1501, 500, 501, false},
        {"Timeout 0, no time", 7, 7, 0, 0, true},
        {"Timeout 0, 1 ms", 7, 8, 0, 1, false},
        {"tick wraps", 0xFFFFFF00u, 0x00000010u, 500, 272, true},
        {"tick passes 2^31", 0x7FFFFFF0u, 0x80000010u, 500, 32, true},
    };
    Responder server("127.0.0.2", 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        client.ServerTime = 12345.0;
        client.TimedOut = !c.inTime;
        client.SetTimeout(c.timeout);
        fake.FreezeTick(c.sendTick);
        StartAgainst(server);
        fake.FreezeTick(c.receiveTick);
        ASSERT_TRUE(WaitForEventOrClose(3000));
        EXPECT_TRUE(SocketsClosed());
        EXPECT_EQ(client.SendTick, c.sendTick);
        EXPECT_EQ(client.ReceiveTick, c.receiveTick);
        EXPECT_EQ(client.RoundTrip, c.roundTrip);
        EXPECT_EQ(client.TimedOut, !c.inTime);
        EXPECT_NE(client.TransmitTimestamp, 0.0) << "decoded in every case";
        if (c.inTime) {
            EXPECT_EQ(events, std::vector<std::string>{"DataAvailable 0"});
            EXPECT_NE(client.ServerTime, 12345.0);
        } else {
            EXPECT_TRUE(events.empty());
            EXPECT_EQ(client.ServerTime, 12345.0) << "a late reply leaves the result alone";
        }
        PumpUntil([] { return false; }, 50);
    }
}

TEST_F(ReplyTest, WrongLengthsAreDroppedAndTheNextGoodReplyIsAccepted) {
    ResponderScript script;
    script.lengths = {47, 49, 48};
    script.gapMs = 100;
    Responder server("127.0.0.2", 0, script);
    client.SetTimeout(3000);
    StartAgainst(server);
    ASSERT_TRUE(PumpUntil([this] { return client.ReplyReceived; }, 2000));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(client.QuerySocket->State(), wsConnected) << "a dropped datagram leaves it open";
    ASSERT_TRUE(WaitForEventOrClose(3000));
    EXPECT_EQ(events, std::vector<std::string>{"DataAvailable 0"});
    EXPECT_TRUE(SocketsClosed());
}

// Every length but 48, from 0 to 64, is dropped without a word and the query goes on; the reply
// that follows them is taken.
TEST_F(ReplyTest, EveryOtherLengthIsDroppedAndTheQueryGoesOn) {
    ResponderScript script;
    script.lengths.clear();
    for (int length = 0; length <= 64; ++length)
        if (length != sntp::kMessageSize) script.lengths.push_back(length);
    script.lengths.push_back(sntp::kMessageSize);
    script.gapMs = 5;
    Responder server("127.0.0.2", 0, script);
    client.SetTimeout(5000);
    StartAgainst(server);
    ASSERT_TRUE(WaitForEventOrClose(5000));
    EXPECT_EQ(events, std::vector<std::string>{"DataAvailable 0"}) << "only the 48-byte one";
    EXPECT_TRUE(SocketsClosed());
    EXPECT_EQ(client.Mode, 4);
}

// The server and the loopback address are accepted as sources, whatever the server is.
TEST_F(ReplyTest, ServerAndLoopbackSourcesAreAccepted) {
    for (const char* replyFrom : {"127.0.0.1", "127.0.0.2"}) {
        SCOPED_TRACE(replyFrom);
        events.clear();
        ResponderScript script;
        script.replyFrom = replyFrom;
        Responder server("127.0.0.2", 0, script);
        StartAgainst(server);
        ASSERT_TRUE(WaitForEventOrClose(2000));
        EXPECT_EQ(events, std::vector<std::string>{"DataAvailable 0"});
        EXPECT_TRUE(SocketsClosed());
    }
}

// The server's and the foreign address come from SNTP_TEST_SERVER and SNTP_TEST_FOREIGN where a
// script gives them (veth addresses in a namespace, for Wine, whose datagrams to loopback
// addresses all come from 127.0.0.1), else they are loopback addresses.
TEST_F(ReplyTest, ForeignSourceIsDropped) {
    const char* server_ = std::getenv("SNTP_TEST_SERVER");
    const char* foreign_ = std::getenv("SNTP_TEST_FOREIGN");
    const std::string serverAddress = server_ != nullptr ? server_ : "127.0.0.2";
    const std::string foreignAddress = foreign_ != nullptr ? foreign_ : "127.0.0.3";
    if (!Responder::SourceAddressesHold(foreignAddress))
        GTEST_SKIP() << "skipped: a foreign source cannot be made here: this socket layer sends "
                        "from 127.0.0.1 whatever loopback address a socket is bound to (Wine); "
                        "the test Namespace.WineForeignSource runs it with veth addresses";
    ResponderScript script;
    // Sent from and to the foreign address, which is this machine's own: the query socket takes
    // datagrams to any of its addresses.
    script.replyFrom = foreignAddress;  // neither the server nor the loopback address
    script.replyTo = foreignAddress;
    Responder server(serverAddress, 0, script);
    client.HostAddr = serverAddress;
    client.HostPort = std::to_string(server.port());
    client.StartQuery();
    ASSERT_TRUE(PumpUntil([this] { return client.ReplyReceived; }, 2000));
    PumpUntil([] { return false; }, 50);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(client.QuerySocket->State(), wsConnected) << "the query goes on";
}

TEST_F(ReplyTest, ReplyOnTheListeningSocketCountsLikeOneOnTheQuerySocket) {
    Responder server("127.0.0.2", 0, testing_support::SilentScript());
    StartAgainst(server);
    ASSERT_TRUE(server.WaitForRequests(1, 2000));
    const double now = testing_support::UnixSecondsNow();
    const sntp::Message reply = Responder::BuildReply(ResponderScript{}, now, now);
    server.SendTo("127.0.0.1", 123, std::vector<std::uint8_t>(reply.begin(), reply.end()));
    ASSERT_TRUE(WaitForEventOrClose(2000));
    EXPECT_EQ(events, std::vector<std::string>{"DataAvailable 0"});
    EXPECT_TRUE(SocketsClosed());
    EXPECT_EQ(std::memcmp(client.RawReply.data(), reply.data(), 48), 0);
}

TEST_F(ReplyTest, RoundTripShorterThanHoldTimePutsTheEstimateBeforeTransmit) {
    ResponderScript script;
    script.holdMs = 300;
    Responder server("127.0.0.2", 0, script);
    fake.FreezeTick(5000);  // the round trip reads as 0 ms
    StartAgainst(server);
    ASSERT_TRUE(WaitForEventOrClose(3000));
    EXPECT_EQ(client.RoundTrip, 0);
    EXPECT_LT(client.ServerTime, client.TransmitTimestamp);
    // Half of the hold the server reported (at least the 300 ms it slept) before its transmit time.
    const double holdSeconds = (client.TransmitTimestamp - client.ReceiveTimestamp) * 86400.0;
    EXPECT_GE(holdSeconds, 0.29);
    EXPECT_NEAR((client.TransmitTimestamp - client.ServerTime) * 86400.0, holdSeconds / 2, 0.001);
}

TEST_F(ReplyTest, UnusableReplyStillFiresTheEvent) {
    ResponderScript script;
    script.stratum = 0;
    Responder server("127.0.0.2", 0, script);
    StartAgainst(server);
    ASSERT_TRUE(WaitForEventOrClose(3000));
    EXPECT_EQ(events, std::vector<std::string>{"DataAvailable 0"});
    EXPECT_TRUE(client.ReplyInvalid);
    EXPECT_NE(client.ServerTime, 0.0);
}

TEST_F(ReplyTest, ExceptionInTheHandlerEndsInReceiveError) {
    client.OnDataAvailable = [this](TObject*, std::uint16_t) {
        events.push_back("DataAvailable");
        throw std::runtime_error("host handler failed");
    };
    Responder server("127.0.0.2", 0);
    StartAgainst(server);
    ASSERT_TRUE(PumpUntil([this] { return events.size() >= 2; }, 3000));
    EXPECT_EQ(events, (std::vector<std::string>{"DataAvailable", "ReceiveError"}));
    EXPECT_TRUE(SocketsClosed());
}

TEST_F(ReplyTest, ClosedSocketIsNotRead) {
    Responder server("127.0.0.2", 0, testing_support::SilentScript());
    StartAgainst(server);
    client.QuerySocket->Close();
    fake.FreezeTick(777);
    client.SocketDataAvailable(client.QuerySocket, 0);
    EXPECT_EQ(client.ReceiveTick, 777u) << "the tick is read before every test";
    EXPECT_FALSE(client.ReplyReceived);
    EXPECT_TRUE(events.empty());
}

}  // namespace
