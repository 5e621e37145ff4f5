/* Asks a server through both contracts of the library, linked at build time.
 * Usage: query HOST[:PORT] */
#include <stdio.h>
#include <string.h>

#include "sntpclient.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: query HOST[:PORT]\n");
        return 64;
    }
    /* The extended query: UTC, seconds, a reason for every failure. */
    SNTPOptions options;
    memset(&options, 0, sizeof options);
    options.size = sizeof options;
    options.samples = 2;
    options.interval_ms = 100;
    SNTPResult result;
    memset(&result, 0, sizeof result);
    result.size = sizeof result;
    if (QueryServerEx(argv[1], &options, &result) == 0) {
        printf("%s: offset %+.6f s, delay %.6f s, stratum %u, %u samples\n", result.address,
               result.offset, result.delay, result.stratum, result.samples);
        return 0;
    }
    printf("no time: %s\n", SNTPReasonText(result.reason));
    return result.outcome;
}
