// The table of replaceable services and the calls that go through it.
#include "platform/services.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/names.h"
#include "platform/system.h"

namespace platform {

// Both tables outlive the static objects, because the library's unload handler may still use
// them after those have gone; ReleaseServices frees them as the library leaves the process. Each
// is made on first use by whichever thread comes first, without a lock: a thread that loses the
// race drops its copy.
namespace {
std::atomic<Services*> realServices{nullptr};
std::atomic<Services*> currentServices{nullptr};

Services& MadeOnce(std::atomic<Services*>& table, Services* (*make)()) {
    Services* found = table.load(std::memory_order_acquire);
    if (found != nullptr) return *found;
    Services* made = make();
    if (table.compare_exchange_strong(found, made, std::memory_order_acq_rel)) return *made;
    delete made;
    return *found;
}
}  // namespace

const Services& SystemServices() {
    return MadeOnce(realServices, [] {
        return new Services{system::Tick,         system::LocalDateTime,
                            system::OwnAddresses, system::ResolveName,
                            system::SocketsStartup, system::SocketsCleanup};
    });
}

Services& CurrentServices() {
    return MadeOnce(currentServices, [] { return new Services(SystemServices()); });
}

void ReleaseServices() {
    delete currentServices.exchange(nullptr);
    delete realServices.exchange(nullptr);
}

std::uint32_t GetTickCount() { return CurrentServices().tick(); }
double LocalDateTime() { return CurrentServices().localDateTime(); }
bool OwnAddresses(std::vector<IPv4>& addresses) { return CurrentServices().ownAddresses(addresses); }
bool ResolveName(const std::string& name, std::vector<IPv4>& addresses) {
    return CurrentServices().resolveName(name, addresses);
}
int SocketsStartup() { return CurrentServices().socketsStartup(); }
void SocketsCleanup() { CurrentServices().socketsCleanup(); }

}  // namespace platform
