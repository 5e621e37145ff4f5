// sntppresence: prints what the library's network presence check answers (1 or 0) and exits with
// it, for scripts that try the check in network namespaces.
#include <cstdio>

#include "library/sntpclient.h"

int main() {
    const unsigned connected = isConnected();
    std::printf("isConnected: %u\n", connected);
    return static_cast<int>(connected);
}
