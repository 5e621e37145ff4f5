// Asks a server a number of times, in one process, and prints each offset and delay in seconds,
// one query a line: through QueryServerEx (with a number of samples each) or, with --legacy,
// through QueryServer (whose offset against local time is UTC's where TZ is UTC; no delay). On
// standard error: how many failed, and the mean time of a call.
// Usage: extended_query [--legacy] SERVER COUNT [SAMPLES [INTERVAL-MS]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "library/sntpclient.h"

int main(int argc, char** argv) {
    int at = 1;
    const bool legacy = argc > 1 && std::strcmp(argv[1], "--legacy") == 0;
    if (legacy) ++at;
    if (argc - at < 2) {
        std::fprintf(stderr, "usage: extended_query [--legacy] SERVER COUNT [SAMPLES [INTERVAL-MS]]\n");
        return 64;
    }
    const char* server = argv[at];
    const int count = std::atoi(argv[at + 1]);
    SNTPOptions options;
    std::memset(&options, 0, sizeof options);
    options.size = sizeof options;
    options.samples = argc - at > 2 ? static_cast<std::uint32_t>(std::atoi(argv[at + 2])) : 1;
    options.interval_ms = argc - at > 3 ? static_cast<std::uint32_t>(std::atoi(argv[at + 3])) : 0;
    int failures = 0;
    double totalMs = 0;
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        double offset = 0, delay = 0;
        bool ok;
        if (legacy) {
            ok = QueryServer(server, &offset) == 0;
            offset *= 86400.0;
        } else {
            SNTPResult result;
            std::memset(&result, 0, sizeof result);
            result.size = sizeof result;
            ok = QueryServerEx(server, &options, &result) == 0;
            offset = result.offset;
            delay = result.delay;
        }
        totalMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                       .count();
        if (ok)
            std::printf("%.9f %.9f\n", offset, delay);
        else
            ++failures;
    }
    if (legacy) SNTPCleanUp();
    std::fprintf(stderr, "%d queries, %d failed, %.3f ms a call\n", count, failures,
                 count > 0 ? totalMs / count : 0.0);
    return failures == 0 ? 0 : 1;
}
