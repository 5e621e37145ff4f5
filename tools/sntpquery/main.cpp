// sntpquery: asks one time server through the library and prints the outcome and the offset of
// the server clock from the local clock. Exits with the outcome code.
#include <cstdio>
#include <cstring>

#include "library/outcomes.h"
#include "library/sntpclient.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(stderr,
                     "usage: sntpquery HOST\n"
                     "Asks the SNTP server HOST (a name or dotted IPv4 address, port 123) for its\n"
                     "time and prints how far its clock is from the local clock (not UTC).\n"
                     "Exit status: the outcome code (0 reply accepted, 1 no reply in time,\n"
                     "2 socket error, 3 server not resolvable or reply not usable).\n");
        return 64;
    }
    double offset = 0.0;
    const unsigned code = QueryServer(argv[1], &offset);
    SNTPCleanUp();
    std::printf("outcome: %u (%s)\n", code, outcome::Meaning(static_cast<std::uint16_t>(code)));
    std::printf("offset: %.12f days (%.3f s)\n", offset, offset * 86400.0);
    return static_cast<int>(code);
}
