// The UDP socket component on loopback: its states, texts, failures and notifications.
#include <gtest/gtest.h>

#include "platform/messages.h"
#include "platform/wsocket.h"
#include "tests/support/fixture.h"

namespace {

using testing_support::PumpUntil;
using testing_support::Responder;

struct SocketProbe {
    explicit SocketProbe(TWSocket& s) {
        s.OnError = [this, &s](TObject* sender) {
            EXPECT_EQ(sender, &s);
            errors.push_back(s.LastError());
        };
        s.OnDataAvailable = [this, &s](TObject*, std::uint16_t) {
            ++announced;
            if (readOnAnnounce) {
                std::uint8_t buffer[48];
                TSockAddrIn from{};
                int length = sizeof from;
                lengths.push_back(s.ReceiveFrom(buffer, sizeof buffer, from, length));
            }
        };
    }
    std::vector<int> errors;
    std::vector<int> lengths;
    int announced = 0;
    bool readOnAnnounce = true;
};

class WSocketTest : public ::testing::Test {
protected:
    testing_support::FakePlatform fake;
};

TEST_F(WSocketTest, ListenOpensAndCloseForgetsTheTexts) {
    TWSocket socket(nullptr);
    SocketProbe probe(socket);
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(socket.Proto(), "tcp");
    socket.SetAddr(" 127.0.0.2 ");
    socket.SetPort("0");
    socket.SetProto("udp");
    EXPECT_EQ(socket.Addr(), "127.0.0.2");
    socket.Listen();
    EXPECT_EQ(socket.State(), wsConnected);
    EXPECT_NE(socket.LocalPort(), "0");
    socket.SetAddr("127.0.0.3");  // refused while open
    EXPECT_EQ(probe.errors.size(), 1u);
    EXPECT_EQ(socket.Addr(), "127.0.0.2");
    socket.Close();
    socket.Close();
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(socket.Addr(), "");
    EXPECT_EQ(socket.Port(), "");
    EXPECT_EQ(socket.Proto(), "tcp");
    EXPECT_EQ(socket.LocalPort(), "0");
}

TEST_F(WSocketTest, FailuresGoToOnErrorOrRaise) {
    TWSocket socket(nullptr);
    socket.SetProto("udp");
    socket.SetAddr("127.0.0.2");
    EXPECT_THROW(socket.Listen(), ESocketException) << "no port and no OnError";
    SocketProbe probe(socket);
    socket.SetPort("no-such-service");
    socket.Listen();
    socket.SetPort("ntp");  // a service name
    socket.SetAddr("bad..address");
    socket.Connect();
    EXPECT_EQ(probe.errors.size(), 2u);
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(socket.Send("x", 1), -1);
    EXPECT_EQ(probe.errors.back(), 10057);
}

TEST_F(WSocketTest, DatagramsAreAnnouncedUntilReadAndLongOnesFail) {
    Responder peer("127.0.0.2", 0, testing_support::SilentScript());
    TWSocket socket(nullptr);
    SocketProbe probe(socket);
    socket.SetProto("udp");
    socket.SetAddr("127.0.0.3");
    socket.SetPort("0");
    socket.Listen();
    const auto port = static_cast<std::uint16_t>(std::stoi(socket.LocalPort()));
    peer.SendTo("127.0.0.3", port, std::vector<std::uint8_t>(49, 1));
    peer.SendTo("127.0.0.3", port, std::vector<std::uint8_t>(48, 2));
    peer.SendTo("127.0.0.3", port, std::vector<std::uint8_t>(47, 3));
    ASSERT_TRUE(PumpUntil([&] { return probe.lengths.size() >= 3; }, 2000));
    EXPECT_EQ(probe.lengths, (std::vector<int>{-1, 48, 47}));
    EXPECT_EQ(socket.LastError(), 0 + 10040) << "the long one failed as too long";

    // A handler that does not read gets no second notice for the same datagram.
    probe.readOnAnnounce = false;
    peer.SendTo("127.0.0.3", port, std::vector<std::uint8_t>(48, 4));
    ASSERT_TRUE(PumpUntil([&] { return probe.announced == 4; }, 2000));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(probe.announced, 4);
    // A closed socket announces nothing more, even for a datagram that was waiting.
    socket.Close();
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(probe.announced, 4);
}

TEST_F(WSocketTest, ResolveHost) {
    // Windows Sockets, started by the look-up, ends with the last socket object.
    TWSocket holder(nullptr);
    fake.AddHost("timeserver", {"127.0.0.2", "127.0.0.3"});
    EXPECT_EQ(WSocketResolveHost("timeserver"), testing_support::Address("127.0.0.2"));
    EXPECT_EQ(WSocketResolveHost(" 255.255.255.255 "), testing_support::Address("255.255.255.255"));
    for (const std::string& bad : {std::string(""), std::string("1timeserver"),
                                   std::string("256.1.1.1"), std::string("unknown"),
                                   std::string(257, 'a')})
        EXPECT_THROW(WSocketResolveHost(bad), ESocketException) << bad;
}

TEST_F(WSocketTest, LastSocketFreedEndsWindowsSockets) {
    {
        TComponent owner(nullptr);
        new TWSocket(&owner);
        new TWSocket(&owner);
        LocalIPList();
        EXPECT_EQ(fake.startups(), 1);
        EXPECT_EQ(fake.cleanups(), 0);
    }
    EXPECT_EQ(fake.cleanups(), 1) << "the owner freed both, the last one ended it";
}

}  // namespace
