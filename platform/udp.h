// The datagram calls of the operating system under the socket component; implemented once for
// Windows Sockets and once for BSD sockets. Each failing call leaves a Windows Sockets error code
// for LastError.
#pragma once

#include <cstdint>
#include <string>

#include "platform/address.h"
#include "platform/errors.h"
#include "platform/messages.h"

// An IPv4 socket address record as the socket layer fills it: 16 bytes, port and address in
// network byte order.
struct TSockAddrIn {
    std::uint16_t sin_family;
    std::uint16_t sin_port;
    std::uint8_t sin_addr[4];
    std::uint8_t sin_zero[8];
};
static_assert(sizeof(TSockAddrIn) == 16, "the address record is 16 bytes");

namespace platform::udp {

using Handle = std::intptr_t;
constexpr Handle kInvalid = -1;
// The message a socket's notifications arrive as; lParam carries the event in its low word and
// the error code in its high word.
constexpr std::uint32_t kSocketMessage = kWM_USER + 1;
constexpr int kReadEvent = 0x01;
constexpr int kWriteEvent = 0x02;

int LastError();
Handle Open();
bool Bind(Handle socket, IPv4 address, std::uint16_t port);
bool EnableBroadcast(Handle socket);
// Announce readiness of the socket to the window from now on.
bool SelectNotifications(Handle socket, MessageWindow& window);
// Ask for a notification when the socket can send again (a no-op where it is always announced).
void WantWrite(Handle socket, MessageWindow& window, bool wanted);
int SendTo(Handle socket, const void* data, int length, IPv4 address, std::uint16_t port);
int ReceiveFrom(Handle socket, MessageWindow& window, void* buffer, int size, TSockAddrIn& from,
                int& fromLength);
// Closes the socket and drops its notifications that still wait in the queue.
bool Close(Handle socket, MessageWindow& window);
std::uint16_t LocalPort(Handle socket);
bool LookupService(const std::string& name, std::uint16_t& port);
// Waits up to `milliseconds` until a datagram waits on the socket; for peers that block.
bool WaitReadable(Handle socket, int milliseconds);

}  // namespace platform::udp
