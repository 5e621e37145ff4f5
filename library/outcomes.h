// The outcome codes of a query with their meanings: one table for the library, the command-line
// host and the documentation.
#pragma once

#include <cstdint>

namespace outcome {

enum Code : std::uint16_t {
    kReplyAccepted = 0,
    kNoReplyInTime = 1,
    kSocketError = 2,
    kNotResolvable = 3,  // the server did not resolve, or its reply was not usable
};

// The offset that comes with every failure; its bit pattern is C08F4000 00000000.
constexpr double kFailureOffset = -1000.0;

inline const char* Meaning(std::uint16_t code) {
    switch (code) {
        case kReplyAccepted: return "reply accepted";
        case kNoReplyInTime: return "no reply in time";
        case kSocketError: return "socket error";
        case kNotResolvable: return "server not resolvable or reply not usable";
        default: return "unknown outcome";
    }
}

}  // namespace outcome
