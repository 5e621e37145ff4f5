// sntpresponder: the tests' scriptable SNTP responder as a program of its own, for scripts that
// put a server into a network namespace. Answers every request until it is stopped.
// Usage: sntpresponder ADDRESS PORT [SKEW-SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "tests/support/responder.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: sntpresponder ADDRESS PORT [SKEW-SECONDS]\n");
        return 64;
    }
    testing_support::ResponderScript script;
    if (argc == 4) script.skewSeconds = std::atof(argv[3]);
    try {
        testing_support::Responder responder(argv[1], static_cast<std::uint16_t>(std::atoi(argv[2])),
                                             script);
        std::printf("sntpresponder: answering on %s:%u, skew %.6f s\n", argv[1], responder.port(),
                    script.skewSeconds);
        std::fflush(stdout);
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sntpresponder: %s\n", e.what());
        return 1;
    }
}
