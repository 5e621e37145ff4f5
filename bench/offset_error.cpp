// Measures the error of the offset that QueryServer reports against a responder whose clock is
// off by a known skew: for each skew, a number of queries, and the mean and largest difference
// between the offset and the skew. The local wall clock is read as UTC here, so the offset is the
// server's own error. Needs UDP port 123 (root).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "library/sntpclient.h"
#include "library/tsntp.h"
#include "tests/support/fake_platform.h"
#include "tests/support/responder.h"

int main(int argc, char** argv) {
    const int queries = argc > 1 ? std::atoi(argv[1]) : 20;
    testing_support::FakePlatform fake;
    fake.SetLocalDateTime(testing_support::UtcDayValueNow);
    const struct {
        const char* name;
        double skew;
        int holdMs, delayMs;
    } cases[] = {
        {"exact clock", 0.0, 0, 0},
        {"1 s ahead", 1.0, 0, 0},
        {"1 h behind", -3600.0, 0, 0},
        {"12 years ahead (next NTP era)", 12.0 * 365 * 86400, 0, 0},
        {"1 s ahead, held 50 ms, reply 40 ms late", 1.0, 50, 40},  // one-way: half shows
    };
    std::printf("%-36s %8s %12s %12s\n", "server", "queries", "mean |err|", "max |err|");
    for (const auto& c : cases) {
        testing_support::ResponderScript script;
        script.skewSeconds = c.skew;
        script.holdMs = c.holdMs;
        script.delayMs = c.delayMs;
        testing_support::Responder server("127.0.0.2", 0, script);
        CreateGlobalClient();
        GlobalClient->HostPort = std::to_string(server.port());
        double sum = 0, worst = 0;
        int accepted = 0;
        for (int i = 0; i < queries; ++i) {
            double offset = 0;
            if (QueryServer("127.0.0.2", &offset) != 0) continue;
            const double error = std::fabs(offset * 86400.0 - c.skew);
            sum += error;
            worst = std::max(worst, error);
            ++accepted;
        }
        SNTPCleanUp();
        if (accepted == 0) {
            std::printf("%-36s no reply accepted\n", c.name);
            continue;
        }
        std::printf("%-36s %8d %9.3f ms %9.3f ms\n", c.name, accepted, 1000 * sum / accepted,
                    1000 * worst);
    }
    return 0;
}
