// An IPv4 address as the socket layer holds it, and its dotted text.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An IPv4 address as it lies in memory in network byte order: 127.0.0.1 is the bytes 7F 00 00 01.
using IPv4 = std::uint32_t;
IPv4 IPv4FromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3);

// Dotted decimal text of an address, its bytes in memory order (as inet_ntoa writes it).
std::string DottedText(IPv4 address);

}  // namespace platform
