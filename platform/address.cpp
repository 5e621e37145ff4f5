// An IPv4 address from its bytes, and its dotted text.
#include "platform/address.h"

#include <cstring>

namespace platform {

IPv4 IPv4FromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    const std::uint8_t bytes[4] = {b0, b1, b2, b3};
    IPv4 address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

std::string DottedText(IPv4 address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

}  // namespace platform
