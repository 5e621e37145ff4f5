// The network presence check: is the last of this machine's own addresses one other than the
// loopback and the zero address?
#include "library/sntpclient.h"
#include "platform/cancel.h"
#include "platform/names.h"

namespace {

// The dotted text of the last of this machine's own addresses, or empty text.
// Windows Sockets is started and ended here, so its start-up count is the same afterwards.
void LastLocalAddress(std::string& text) {
    const int started = platform::SocketsStartup();
    text.clear();
    if (started != 0) return;
    std::vector<platform::IPv4> addresses;
    if (platform::OwnAddresses(addresses))
        for (platform::IPv4 address : addresses) text = platform::DottedText(address);
    platform::SocketsCleanup();
}

}  // namespace

extern "C" SNTP_CATCHES_THREAD_CANCELLATION SNTP_API std::uint8_t SNTP_CALL isConnected(void) {
    std::string text;
    try {
        LastLocalAddress(text);
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
        text.clear();
    }
    return text != "127.0.0.1" && text != "0.0.0.0" ? 1 : 0;
}
