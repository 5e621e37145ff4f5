// Test fakes for the platform's replaceable services: this machine's own addresses as chosen, a
// private table of host names, a movable millisecond tick, a settable wall clock, and a counted
// Windows Sockets start-up. Installed for the lifetime of the object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/services.h"

namespace testing_support {

platform::IPv4 Address(const std::string& dotted);

// The current UTC time as a day value, read from the C++ clock (not the platform layer).
double UtcDayValueNow();

class FakePlatform {
public:
    FakePlatform();

    // This machine's own addresses, as Windows gives them: those its host name resolves to (an
    // empty list when the name does not resolve; failure when the name cannot be read).
    void SetLocalAddresses(const std::vector<std::string>& addresses);
    void SetLocalNameUnresolvable() { localResolvable_ = false; }
    void SetHostNameFails() { hostNameFails_ = true; }
    // A name in the private table of host names; every other name does not resolve.
    void AddHost(const std::string& name, const std::vector<std::string>& addresses);
    // The tick runs at the real rate but reads `start` now.
    void SetTickStart(std::uint32_t start);
    // The tick stands still at `value` until set again.
    void FreezeTick(std::uint32_t value);
    // The tick reads `source`, which another thread may move at any time.
    void FollowTick(const std::atomic<std::uint32_t>& source);
    void SetLocalDateTime(std::function<double()> clock);
    // Every start-up from now on fails with this code.
    void FailStartup(int code) { startupError_ = code; }

    int startups() const { return startups_; }
    int cleanups() const { return cleanups_; }
    // Names looked up, in order.
    const std::vector<std::string>& lookups() const { return lookups_; }

private:
    platform::ServicesOverride override_;
    std::vector<platform::IPv4> localAddresses_;
    std::map<std::string, std::vector<platform::IPv4>> hosts_;
    bool localResolvable_ = true;
    bool hostNameFails_ = false;
    int startupError_ = 0;
    std::atomic<int> startups_{0};
    std::atomic<int> cleanups_{0};
    std::vector<std::string> lookups_;
};

}  // namespace testing_support
