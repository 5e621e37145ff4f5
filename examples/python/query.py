#!/usr/bin/env python3
"""Asks a server through the library's extended query from Python, with ctypes.

Usage: query.py HOST[:PORT] [PATH-TO-LIBRARY]
On Windows load the DLL with ctypes.WinDLL("sntpclient.dll") (the functions are __stdcall);
the structures are the same.
"""
import ctypes
import sys


class SNTPOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("timeout_ms", ctypes.c_uint32),
                ("samples", ctypes.c_uint32), ("interval_ms", ctypes.c_uint32),
                ("port", ctypes.c_uint16), ("family", ctypes.c_uint8)]


class SNTPResult(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("outcome", ctypes.c_uint16),
                ("reason", ctypes.c_uint16), ("offset", ctypes.c_double),
                ("delay", ctypes.c_double), ("root_delay", ctypes.c_double),
                ("root_dispersion", ctypes.c_double), ("server_time_ns", ctypes.c_int64),
                ("reference_id", ctypes.c_uint32), ("stratum", ctypes.c_uint8),
                ("leap", ctypes.c_uint8), ("version", ctypes.c_uint8),
                ("poll", ctypes.c_int8), ("precision", ctypes.c_int8),
                ("kiss_code", ctypes.c_char * 5), ("address", ctypes.c_char * 46),
                ("samples", ctypes.c_uint16)]


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 64
    library = ctypes.CDLL(sys.argv[2] if len(sys.argv) == 3 else "libsntpclient.so.1")
    library.QueryServerEx.argtypes = [ctypes.c_char_p, ctypes.POINTER(SNTPOptions),
                                      ctypes.POINTER(SNTPResult)]
    library.QueryServerEx.restype = ctypes.c_uint16
    library.SNTPReasonText.argtypes = [ctypes.c_uint16]
    library.SNTPReasonText.restype = ctypes.c_char_p

    options = SNTPOptions(size=ctypes.sizeof(SNTPOptions), samples=1)
    result = SNTPResult(size=ctypes.sizeof(SNTPResult))
    outcome = library.QueryServerEx(sys.argv[1].encode(), ctypes.byref(options),
                                    ctypes.byref(result))
    if outcome == 0:
        print(f"{result.address.decode()}: offset {result.offset:+.6f} s, "
              f"delay {result.delay:.6f} s, stratum {result.stratum}")
    else:
        print("no time:", library.SNTPReasonText(result.reason).decode())
    return outcome


if __name__ == "__main__":
    sys.exit(main())
