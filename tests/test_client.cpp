// The client component and its query sequence, over real sockets on loopback addresses and fake
// name services.
#include <gtest/gtest.h>

#include "platform/udp.h"
#include "platform/system.h"
#include "tests/support/fixture.h"

namespace {

using testing_support::ClientTest;
using testing_support::Responder;
using testing_support::ResponderScript;

TEST(Component, OwnerFreesWhatItOwns) {
    struct Probe : TComponent {
        Probe(TComponent* owner, int* freed) : TComponent(owner), freed_(freed) {}
        ~Probe() override { ++*freed_; }
        int* freed_;
    };
    int freed = 0;
    auto* owner = new TComponent(nullptr);
    new Probe(owner, &freed);
    auto* second = new Probe(owner, &freed);
    EXPECT_EQ(owner->ComponentCount(), 2u);
    delete second;  // freed early: the owner forgets it
    EXPECT_EQ(owner->ComponentCount(), 1u);
    delete owner;
    EXPECT_EQ(freed, 2);
}

TEST_F(ClientTest, NewClientDefaults) {
    TSNTPClient fresh(nullptr);
    EXPECT_EQ(fresh.HostPort, "123");
    EXPECT_EQ(fresh.ListenPort, "123");
    EXPECT_EQ(fresh.Timeout(), 500);
    EXPECT_EQ(fresh.HostAddr, "");
    EXPECT_EQ(fresh.ServerIP, "");
    EXPECT_EQ(fresh.LocalIP, "");
    EXPECT_EQ(fresh.ServerAddr, 0u);
    EXPECT_FALSE(fresh.OnDataAvailable || fresh.OnTimeout || fresh.OnWinsockError ||
                 fresh.OnResolveError || fresh.OnReceiveError);
    EXPECT_FALSE(fresh.SocketsCreated);
}

TEST_F(ClientTest, TimeoutKeepsPositiveValuesOnly) {
    const struct {
        std::int32_t given, stored;
    } cases[] = {{-1, 0}, {0, 0}, {1, 1}, {4000, 4000}, {INT32_MIN, 0}, {INT32_MAX, INT32_MAX}};
    for (const auto& c : cases) {
        client.SetTimeout(c.given);
        EXPECT_EQ(client.Timeout(), c.stored) << c.given;
    }
}

TEST_F(ClientTest, ReleaseWithoutSocketsAndDestroyingNeverStartsWindowsSockets) {
    {
        TSNTPClient unused(nullptr);
        unused.ReleaseSockets();
        unused.ReleaseSockets();
    }
    client.ReleaseSockets();
    EXPECT_EQ(fake.startups(), 0);
    EXPECT_TRUE(events.empty());
}

TEST_F(ClientTest, SocketsLiveFromFirstQueryUntilRelease) {
    REQUIRE_PORT_123();
    Responder server("127.0.0.2", 0, testing_support::SilentScript());
    client.HostAddr = "127.0.0.2";
    client.HostPort = std::to_string(server.port());
    client.StartQuery();
    ASSERT_TRUE(client.SocketsCreated);
    TWSocket* query = client.QuerySocket;
    TWSocket* listen = client.ListenSocket;
    EXPECT_EQ(query->State(), wsConnected);
    EXPECT_EQ(listen->State(), wsConnected);
    client.StartQuery();  // reused, reopened
    EXPECT_EQ(client.QuerySocket, query);
    EXPECT_EQ(client.ListenSocket, listen);
    EXPECT_TRUE(server.WaitForRequests(2, 2000));
    // Windows Sockets is ended with the last socket object.
    client.ReleaseSockets();
    EXPECT_FALSE(client.SocketsCreated);
    EXPECT_EQ(fake.startups(), 1);
    EXPECT_EQ(fake.cleanups(), 1);
    client.StartQuery();
    EXPECT_TRUE(client.SocketsCreated);
    EXPECT_EQ(fake.startups(), 2);
    EXPECT_TRUE(events.empty()) << events.front();
}

TEST_F(ClientTest, RequestIsVersionOneClientSentOnceFromAFreshPort) {
    REQUIRE_PORT_123();
    Responder server("127.0.0.2", 0, testing_support::SilentScript());
    client.HostAddr = "127.0.0.2";
    client.HostPort = std::to_string(server.port());
    client.RawReply.fill(0xEE);  // an earlier reply does not leak into the request
    client.StartQuery();
    const std::string firstPort = client.QuerySocket->LocalPort();
    client.StartQuery();
    ASSERT_TRUE(server.WaitForRequests(2, 2000));
    testing_support::PumpUntil([] { return false; }, 200);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u) << "one request per query";
    std::vector<std::uint8_t> expected(48, 0);
    expected[0] = 0x0B;
    for (const auto& r : requests) {
        EXPECT_EQ(r.bytes, expected);
        EXPECT_EQ(r.fromAddress, "127.0.0.1");
    }
    EXPECT_EQ(std::to_string(requests[0].fromPort), firstPort);
    EXPECT_NE(requests[0].fromPort, requests[1].fromPort) << "each query opens a fresh port";
    EXPECT_TRUE(client.RequestSent);
    EXPECT_FALSE(client.ReplyReceived);
}

// What StartQuery does, by the local address list and the look-up of the server.
TEST_F(ClientTest, StartQueryByLocalAddressAndLookUp) {
    REQUIRE_PORT_123();
    Responder server("127.0.0.1", 0, testing_support::SilentScript());
    Responder other("127.0.0.2", 0, testing_support::SilentScript());
    const struct Row {
        const char* name;
        std::vector<std::string> localList;
        const char* hostAddr;
        const char* localIP;
        const char* serverIP;
        const char* event;       // nullptr: none
        Responder* receiver;     // who gets the request, or nullptr
        bool hostLookedUp;
    } rows[] = {
        {"no network, loopback server", {"127.0.0.1"}, "127.0.0.1", "127.0.0.1", "0.0.0.0",
         nullptr, &server, false},
        {"empty address list, loopback server", {}, "127.0.0.1", "127.0.0.1", "0.0.0.0", nullptr,
         &server, false},
        {"no network, any other text", {"127.0.0.1"}, "127.0.0.2", "127.0.0.1", "0.0.0.0",
         "ResolveError", nullptr, false},
        {"zero address, any other text", {"0.0.0.0"}, "timeserver", "0.0.0.0", "0.0.0.0",
         "ResolveError", nullptr, false},
        {"zero address asking itself", {"0.0.0.0", "127.0.0.9"}, "0.0.0.0", "0.0.0.0", "0.0.0.0",
         nullptr, nullptr, false},
        {"network, dotted server", {"127.0.0.5"}, "127.0.0.2", "127.0.0.5", "127.0.0.2", nullptr,
         &other, false},
        {"network, named server", {"127.0.0.5"}, "timeserver", "127.0.0.5", "127.0.0.2", nullptr,
         &other, true},
        {"network, name resolving to 0.0.0.0", {"127.0.0.5"}, "zero.test", "127.0.0.5", "0.0.0.0",
         "ResolveError", nullptr, true},
        {"network, server 0.0.0.0", {"127.0.0.5"}, "0.0.0.0", "127.0.0.5", "0.0.0.0",
         "ResolveError", nullptr, false},
        {"network, unknown name", {"127.0.0.5"}, "unknown.test", "127.0.0.5", "0.0.0.0",
         "ResolveError", nullptr, true},
        {"network, name starting with a digit", {"127.0.0.5"}, "1timeserver", "127.0.0.5",
         "0.0.0.0", "ResolveError", nullptr, false},
        {"first local address 127.0.0.1 means no network", {"127.0.0.1", "127.0.0.5"}, "loopback.test",
         "127.0.0.1", "0.0.0.0", "ResolveError", nullptr, false},
    };
    fake.AddHost("timeserver", {"127.0.0.2"});
    fake.AddHost("1timeserver", {"127.0.0.2"});
    fake.AddHost("zero.test", {"0.0.0.0"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        fake.SetLocalAddresses(row.localList);
        const std::size_t lookupsBefore = fake.lookups().size();
        const std::size_t serverBefore = server.requests().size();
        const std::size_t otherBefore = other.requests().size();
        client.HostAddr = row.hostAddr;
        // The port of the expected receiver: a request that goes elsewhere reaches nobody.
        client.HostPort = std::to_string((row.receiver != nullptr ? row.receiver : &server)->port());
        client.RequestSent = client.ReplyReceived = true;  // to see what the query resets
        client.StartQuery();
        EXPECT_EQ(client.LocalIP, row.localIP);
        EXPECT_EQ(client.ServerIP, row.serverIP);
        if (row.event != nullptr) {
            EXPECT_EQ(events, std::vector<std::string>{row.event});
            EXPECT_TRUE(client.RequestSent) << "kept from before the query";
        } else {
            EXPECT_TRUE(events.empty()) << events.front();
            EXPECT_EQ(client.RequestSent, row.receiver != nullptr);
            EXPECT_FALSE(client.ReplyReceived);
        }
        bool hostLookedUp = false;
        for (std::size_t i = lookupsBefore; i < fake.lookups().size(); ++i)
            hostLookedUp |= fake.lookups()[i] == row.hostAddr;
        EXPECT_EQ(hostLookedUp, row.hostLookedUp);
        testing_support::PumpUntil([] { return false; }, 100);
        EXPECT_EQ(server.requests().size() - serverBefore, row.receiver == &server ? 1u : 0u);
        EXPECT_EQ(other.requests().size() - otherBefore, row.receiver == &other ? 1u : 0u);
        if (row.receiver == nullptr) {
            EXPECT_NE(client.QuerySocket->State(), wsConnected);
            EXPECT_NE(client.ListenSocket->State(), wsConnected);
        }
    }
}

// The loopback address stands for this machine: it is asked under its own first address, and so
// is a name that resolves to 127.0.0.1, but not other loopback addresses.
TEST_F(ClientTest, LoopbackServerIsAskedUnderTheLocalAddress) {
    REQUIRE_PORT_123();
    fake.SetLocalAddresses({"127.0.0.5", "127.0.0.6"});
    fake.AddHost("localhost.test", {"127.0.0.1"});
    Responder self("127.0.0.5", 0, testing_support::SilentScript());
    client.HostPort = std::to_string(self.port());
    for (const char* host : {"127.0.0.1", "localhost.test"}) {
        client.HostAddr = host;
        client.StartQuery();
        EXPECT_EQ(client.ServerIP, "127.0.0.5") << host;
    }
    EXPECT_TRUE(self.WaitForRequests(2, 2000));
    client.HostAddr = "127.0.0.2";
    client.StartQuery();
    EXPECT_EQ(client.ServerIP, "127.0.0.2");
    // Blanks around the text are trimmed by the look-up.
    client.HostAddr = " 127.0.0.2 ";
    client.StartQuery();
    EXPECT_EQ(client.ServerIP, "127.0.0.2");
    EXPECT_TRUE(events.empty());
}

TEST_F(ClientTest, EmptyOrOverlongHostIsNotResolvable) {
    for (const std::string& host : {std::string(), std::string("   "), std::string(257, 'a'),
                                    std::string("1.2.3"), std::string("1.2.3.256")}) {
        events.clear();
        client.HostAddr = host;
        client.StartQuery();
        EXPECT_EQ(events, std::vector<std::string>{"ResolveError"}) << "'" << host << "'";
        EXPECT_EQ(client.ServerIP, "0.0.0.0");
    }
}

TEST_F(ClientTest, EmptyPortFailsConnectAndSend) {
    REQUIRE_PORT_123();
    client.HostAddr = "127.0.0.2";
    client.HostPort = "";
    client.StartQuery();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].rfind("WinsockError", 0), 0u);
    EXPECT_EQ(events[1], "WinsockError 10057");
    EXPECT_TRUE(client.RequestSent);
    EXPECT_EQ(client.QuerySocket->State(), wsClosed);
}

TEST_F(ClientTest, PortHeldByAnotherProgramFailsOnlyTheListeningSocket) {
    REQUIRE_PORT_123();
    Responder holder("0.0.0.0", 123, testing_support::SilentScript());
    Responder server("127.0.0.2", 0, testing_support::SilentScript());
    client.HostAddr = "127.0.0.2";
    client.HostPort = std::to_string(server.port());
    client.StartQuery();
    EXPECT_EQ(events, std::vector<std::string>{"WinsockError 10048"});
    EXPECT_EQ(client.LastErrorSocket, client.ListenSocket);
    EXPECT_EQ(client.ListenSocket->State(), wsClosed);
    EXPECT_EQ(client.QuerySocket->State(), wsConnected);
    EXPECT_TRUE(server.WaitForRequests(1, 2000)) << "the query socket still sends";
}

TEST_F(ClientTest, SocketFailureWithoutHandlerLeavesNoTrace) {
    REQUIRE_PORT_123();
    Responder holder("0.0.0.0", 123, testing_support::SilentScript());
    client.OnWinsockError = nullptr;
    client.HostAddr = "127.0.0.2";
    client.HostPort = "40999";
    client.StartQuery();
    EXPECT_EQ(client.LastErrorSocket, nullptr);
    EXPECT_TRUE(events.empty());
}

TEST_F(ClientTest, QueryTimeoutActsOnlyWithoutADatagram) {
    REQUIRE_PORT_123();
    Responder server("127.0.0.2", 0, testing_support::SilentScript());
    client.HostAddr = "127.0.0.2";
    client.HostPort = std::to_string(server.port());
    client.StartQuery();
    client.QueryTimeout();
    client.QueryTimeout();
    EXPECT_EQ(events, (std::vector<std::string>{"Timeout", "Timeout"}));
    EXPECT_TRUE(client.TimedOut);
    EXPECT_EQ(client.QuerySocket->State(), wsClosed);
    EXPECT_EQ(client.ListenSocket->State(), wsClosed);

    events.clear();
    client.TimedOut = false;
    client.StartQuery();
    client.ReplyReceived = true;
    client.QueryTimeout();
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(client.TimedOut);
    EXPECT_EQ(client.QuerySocket->State(), wsConnected);
}

TEST_F(ClientTest, LocalAddressListFailureLeavesStartQuery) {
    fake.SetHostNameFails();
    client.HostAddr = "127.0.0.2";
    EXPECT_THROW(client.StartQuery(), ESocketException);
    EXPECT_TRUE(events.empty());
}

TEST(AddrToText, BytesInMemoryOrder) {
    EXPECT_EQ(TSNTPClient::AddrToText(platform::IPv4FromBytes(0xC0, 0xA8, 0x01, 0x05)),
              "192.168.1.5");
    EXPECT_EQ(TSNTPClient::AddrToText(platform::IPv4FromBytes(0, 0, 0, 0)), "0.0.0.0");
    EXPECT_EQ(TSNTPClient::AddrToText(platform::IPv4FromBytes(255, 255, 255, 255)),
              "255.255.255.255");
}

}  // namespace
