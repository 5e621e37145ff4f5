/* sntpclient: asks one time server over SNTP how far its clock is from the local clock.
 * The four exported functions, usable from C and C++. */
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

#ifdef __cplusplus
}
#endif

#endif
