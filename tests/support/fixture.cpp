// The shared fixture of the client tests.
#include "tests/support/fixture.h"

#include "platform/messages.h"
#include "platform/system.h"
#include "platform/udp.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace testing_support {

double ProcessorSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

bool CanBindPort123() {
    if (platform::system::SocketsStartup() != 0) return false;
    const std::intptr_t s = platform::udp::Open();
    const bool bound = s != platform::udp::kInvalid && platform::udp::Bind(s, 0, 123);
    if (s != platform::udp::kInvalid) CloseUnwatched(s);
    platform::system::SocketsCleanup();
    return bound;
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    Stopwatch watch;
    while (!done()) {
        if (watch.ms() > ms) return false;
        platform::DispatchWaitingMessages();
        if (done()) break;
        platform::WaitForMessage(10);
    }
    return true;
}

void ClientTest::SetUp() {
    client.OnDataAvailable = [this](TObject* sender, std::uint16_t error) {
        EXPECT_EQ(sender, &client);
        events.push_back("DataAvailable " + std::to_string(error));
    };
    client.OnTimeout = [this](TObject* sender) {
        EXPECT_EQ(sender, &client);
        events.push_back("Timeout");
    };
    client.OnWinsockError = [this](TObject* sender, std::uint16_t error) {
        EXPECT_EQ(sender, &client);
        events.push_back("WinsockError " + std::to_string(error));
    };
    client.OnResolveError = [this](TObject* sender) {
        EXPECT_EQ(sender, &client);
        events.push_back("ResolveError");
    };
    client.OnReceiveError = [this](TObject* sender) {
        EXPECT_EQ(sender, &client);
        events.push_back("ReceiveError");
    };
}

}  // namespace testing_support
