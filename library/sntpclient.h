/* sntpclient: asks one time server over SNTP how far its clock is from the local clock.
 * The four functions of the old contract (local time, days, one thread) and the extended query
 * (UTC, seconds, any thread), usable from C and C++. */
#ifndef SNTPCLIENT_H
#define SNTPCLIENT_H

#include <stdint.h>

/* The calling convention and symbol visibility of the exported functions. 32-bit Windows hosts
 * call with __stdcall, and the DLL exports the names undecorated, by name and ordinal. */
#if defined(_WIN32)
#define SNTP_CALL __stdcall
#define SNTP_API
#else
#define SNTP_CALL
#define SNTP_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A procedure pointer that the library stores and never calls. */
typedef void(SNTP_CALL* SNTPLoopFunction)(void);

/* Asks the server (a host name or dotted IPv4 text; null counts as empty) for its time and
 * blocks until the answer, a failure or the 4000 ms limit. Returns the outcome code (0 reply
 * accepted, 1 no reply in time, 2 socket error, 3 server not resolvable or reply not usable) and
 * writes to *offset (unless offset is null) the server clock minus the local clock in days, or
 * -1000.0 on every failure. */
SNTP_API uint16_t SNTP_CALL QueryServer(const char* host, double* offset);

/* Closes and frees the library's client and its sockets. Harmless without a client. */
SNTP_API void SNTP_CALL SNTPCleanUp(void);

/* 1 unless the last of this machine's own IPv4 addresses is 127.0.0.1 or 0.0.0.0 (Windows: the
 * addresses its host name resolves to; elsewhere: the interfaces that are up, not loopback). */
SNTP_API uint8_t SNTP_CALL isConnected(void);

/* Stores a procedure pointer (null allowed); nothing in the library calls it. */
SNTP_API void SNTP_CALL setLoopFunction(SNTPLoopFunction p);

/* The extended query: UTC to the microsecond, the server's own figures, a reason for every
 * failure, IPv4 and IPv6, and calls from any thread at the same time. It needs no window, no
 * message loop, no listening socket and no privilege; it blocks the calling thread. */

typedef struct SNTPOptions {
    uint32_t size;        /* sizeof(SNTPOptions): lets the structure grow */
    uint32_t timeout_ms;  /* limit of each exchange; 0 means 4000 */
    uint32_t samples;     /* exchanges, 1 to 8; 0 means 1; the one with the smallest delay is reported */
    uint32_t interval_ms; /* pause between exchanges; 0 means 2000 */
    uint16_t port;        /* 0 means 123 */
    uint8_t family;       /* 0 any, 4 IPv4 only, 6 IPv6 only */
} SNTPOptions;

typedef struct SNTPResult {
    uint32_t size;            /* set by the caller to sizeof(SNTPResult) */
    uint16_t outcome;         /* 0-3, the same meanings as QueryServer's */
    uint16_t reason;          /* SNTP_REASON_*, the cause in detail */
    double offset;            /* seconds: server UTC minus this machine's UTC clock */
    double delay;             /* seconds: round trip less the server's own hold */
    double root_delay;        /* seconds, from the reply */
    double root_dispersion;   /* seconds, from the reply */
    int64_t server_time_ns;   /* the server's transmit time, ns since 1970-01-01 UTC */
    uint32_t reference_id;    /* the four bytes as sent, first byte highest */
    uint8_t stratum, leap, version;
    int8_t poll, precision;
    char kiss_code[5];        /* "DENY", "RATE", ... for stratum 0, else empty */
    char address[46];         /* numeric text of the address that answered (or was asked) */
    uint16_t samples;         /* exchanges that gave a usable reply */
} SNTPResult;

#define SNTP_REASON_OK 0             /* a usable reply */
#define SNTP_REASON_TIMEOUT 1        /* no reply within the limit */
#define SNTP_REASON_NETWORK 2        /* a socket could not be opened or the send failed */
#define SNTP_REASON_RESOLVE 3        /* the name does not resolve, or not to the family asked */
#define SNTP_REASON_KISS 4           /* stratum 0, a kiss-o'-death: kiss_code says which */
#define SNTP_REASON_UNSYNCHRONISED 5 /* leap indicator 3, or stratum 16 and more */
#define SNTP_REASON_BAD_REPLY 6      /* no transmit time, or one before the receive time */
#define SNTP_REASON_BAD_ARGUMENT 7   /* null or bad server text, samples above 8, bad family,
                                      * a structure too small */

/* Asks `server` (a name, IPv4 or IPv6 text, optionally with a port: "host:port", "[v6]:port";
 * a port in the text wins over options->port) for the time. `options` may be null. Returns the
 * outcome (OK 0, TIMEOUT 1, NETWORK 2, every other reason 3) and fills *result, which must not
 * be null and whose size must be set. */
SNTP_API uint16_t SNTP_CALL QueryServerEx(const char* server, const SNTPOptions* options,
                                          SNTPResult* result);

/* A fixed English text for a reason, never null (unknown reasons have one too). */
SNTP_API const char* SNTP_CALL SNTPReasonText(uint16_t reason);

#ifdef __cplusplus
}
#endif

#endif
