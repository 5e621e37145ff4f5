// Fakes for the platform's replaceable services.
#include "tests/support/fake_platform.h"

#include <chrono>
#include <cstdio>

#include "platform/system.h"

namespace testing_support {

platform::IPv4 Address(const std::string& dotted) {
    unsigned b[4] = {0, 0, 0, 0};
    std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]);
    return platform::IPv4FromBytes(static_cast<std::uint8_t>(b[0]), static_cast<std::uint8_t>(b[1]),
                                   static_cast<std::uint8_t>(b[2]), static_cast<std::uint8_t>(b[3]));
}

double UtcDayValueNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const double ms = static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    return 25569.0 + ms / 86400000.0;  // 1970-01-01 is day 25569
}

FakePlatform::FakePlatform() {
    platform::Services& s = override_.services();
    // This machine's own addresses are those of its host name, as on Windows.
    s.ownAddresses = [this](std::vector<platform::IPv4>& addresses) {
        addresses.clear();
        if (hostNameFails_) return false;
        if (localResolvable_) addresses = localAddresses_;
        return true;
    };
    s.resolveName = [this](const std::string& name, std::vector<platform::IPv4>& addresses) {
        lookups_.push_back(name);
        addresses.clear();
        auto found = hosts_.find(name);
        if (found == hosts_.end()) return false;
        addresses = found->second;
        return true;
    };
    s.socketsStartup = [this] {
        if (startupError_ != 0) return startupError_;
        ++startups_;
        // The real start-up too, so that real sockets work where the system needs it.
        return platform::system::SocketsStartup();
    };
    s.socketsCleanup = [this] {
        ++cleanups_;
        platform::system::SocketsCleanup();
    };
    SetLocalAddresses({"127.0.0.5"});
}

void FakePlatform::SetLocalAddresses(const std::vector<std::string>& addresses) {
    localAddresses_.clear();
    for (const std::string& a : addresses) localAddresses_.push_back(Address(a));
    localResolvable_ = true;
}

void FakePlatform::AddHost(const std::string& name, const std::vector<std::string>& addresses) {
    auto& list = hosts_[name];
    list.clear();
    for (const std::string& a : addresses) list.push_back(Address(a));
}

void FakePlatform::SetTickStart(std::uint32_t start) {
    const std::uint32_t realStart = platform::system::Tick();
    override_.services().tick = [start, realStart] {
        return start + (platform::system::Tick() - realStart);
    };
}

void FakePlatform::FreezeTick(std::uint32_t value) {
    override_.services().tick = [value] { return value; };
}

void FakePlatform::FollowTick(const std::atomic<std::uint32_t>& source) {
    override_.services().tick = [&source] { return source.load(); };
}

void FakePlatform::SetLocalDateTime(std::function<double()> clock) {
    override_.services().localDateTime = std::move(clock);
}

}  // namespace testing_support
