// The table of replaceable services and the calls that go through it.
#include "platform/services.h"

#include <atomic>
#include <cstring>

#include "platform/clock.h"
#include "platform/fpu.h"
#include "platform/names.h"
#include "platform/system.h"

namespace platform {

IPv4 IPv4FromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    const std::uint8_t bytes[4] = {b0, b1, b2, b3};
    IPv4 address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

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

std::string DottedText(IPv4 address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

namespace {
// Days from 1899-12-30 to the given proleptic Gregorian date.
long DaysSince18991230(int year, int month, int day) {
    // Shift the year to start in March so that the leap day falls at its end.
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int monthFromMarch = month > 2 ? month - 3 : month + 9;
    const int dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long daysSince1970 = static_cast<long>(era) * 146097 + dayOfEra - 719468;
    return daysSince1970 + 25569;  // 1970-01-01 is day 25569
}
}  // namespace

namespace {
// Called while the precision scope holds, so that the compiler cannot move it outside.
__attribute__((noinline)) double DayValue(long days, int milliseconds) {
    const double time = RoundToDouble(static_cast<long double>(milliseconds) / 86400000.0L);
    return RoundToDouble(static_cast<long double>(days) + time);
}
}  // namespace

double DayValueFromCivil(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    // The host may have set the x87 unit to single precision, too coarse for a day value.
    ExtendedPrecisionScope extended;
    return DayValue(DaysSince18991230(year, month, day),
                    hour * 3600000 + minute * 60000 + second * 1000 + millisecond);
}

}  // namespace platform
