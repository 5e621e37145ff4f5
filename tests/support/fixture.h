// The shared fixture of the tests that run a client: fake name services, a client with every
// event recorded, a message pump with a time limit, and the check for UDP port 123.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "sntp/client.h"
#include "tests/support/fake_platform.h"
#include "tests/support/responder.h"

namespace testing_support {

// Whether this process may bind UDP port 123 on every address (root, or the capability, and
// nobody else holding it).
bool CanBindPort123();

#define REQUIRE_PORT_123()                                                                     \
    do {                                                                                       \
        if (!::testing_support::CanBindPort123())                                              \
            GTEST_SKIP() << "skipped: UDP port 123 cannot be bound here (needs root, and no " \
                            "other program on it)";                                            \
    } while (0)

// The processor time this process has used so far, user and system, in seconds.
double ProcessorSeconds();

// Pumps the thread's messages until `done` holds or `ms` pass; false on time-out.
bool PumpUntil(const std::function<bool()>& done, int ms);

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    long long ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { client.ReleaseSockets(); }

    // The events the client raised, as "DataAvailable 0", "Timeout", "WinsockError 10048",
    // "ResolveError", "ReceiveError".
    std::vector<std::string> events;
    FakePlatform fake;
    TSNTPClient client{nullptr};
};

}  // namespace testing_support
