// The network presence check over the local host name's address list, and the balance of
// Windows Sockets start-ups it leaves.
#include <gtest/gtest.h>

#include "library/sntpclient.h"
#include "platform/errors.h"
#include "tests/support/fake_platform.h"

namespace {

using testing_support::FakePlatform;

TEST(IsConnected, LastListedAddressDecides) {
    const struct {
        const char* name;
        void (*set)(FakePlatform&);
        std::uint8_t connected;
    } cases[] = {
        {"only 127.0.0.1", [](FakePlatform& f) { f.SetLocalAddresses({"127.0.0.1"}); }, 0},
        {"0.0.0.0 last",
         [](FakePlatform& f) { f.SetLocalAddresses({"192.168.1.5", "0.0.0.0"}); }, 0},
        {"192.168.1.5", [](FakePlatform& f) { f.SetLocalAddresses({"192.168.1.5"}); }, 1},
        {"192.168.1.5 then 127.0.0.1",
         [](FakePlatform& f) { f.SetLocalAddresses({"192.168.1.5", "127.0.0.1"}); }, 0},
        {"127.0.0.1 then 10.0.0.2",
         [](FakePlatform& f) { f.SetLocalAddresses({"127.0.0.1", "10.0.0.2"}); }, 1},
        {"127.0.0.2 is not the loopback text",
         [](FakePlatform& f) { f.SetLocalAddresses({"127.0.0.2"}); }, 1},
        {"empty address list", [](FakePlatform& f) { f.SetLocalAddresses({}); }, 1},
        {"no resolution", [](FakePlatform& f) { f.SetLocalNameUnresolvable(); }, 1},
        {"host name unreadable", [](FakePlatform& f) { f.SetHostNameFails(); }, 1},
        {"Windows Sockets failing", [](FakePlatform& f) { f.FailStartup(platform::kWSASYSNOTREADY); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        c.set(fake);
        EXPECT_EQ(isConnected(), c.connected);
        EXPECT_EQ(isConnected(), c.connected);
        EXPECT_EQ(fake.startups(), fake.cleanups()) << "every start-up is ended";
    }
}

}  // namespace
