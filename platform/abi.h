/* The calling convention and symbol visibility of the library's exported functions. */
#ifndef SNTPCLIENT_PLATFORM_ABI_H
#define SNTPCLIENT_PLATFORM_ABI_H

#if defined(_WIN32)
/* 32-bit Windows hosts call with __stdcall; the .def file exports the names undecorated. */
#define SNTP_CALL __stdcall
#define SNTP_API
#else
#define SNTP_CALL
#define SNTP_API __attribute__((visibility("default")))
#endif

#endif
