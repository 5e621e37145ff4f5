// Datagram sockets over Windows Sockets 1.1 (wsock32): notifications through WSAAsyncSelect to the
// socket's hidden window.
#include "platform/udp.h"

#include <winsock.h>
#include <windows.h>

#include <cstring>

namespace platform::udp {

namespace {

thread_local int lastError = 0;

bool Failed() {
    lastError = WSAGetLastError();
    return false;
}

sockaddr_in Address(IPv4 address, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    std::memcpy(&sa.sin_addr, &address, 4);
    return sa;
}

SOCKET AsSocket(Handle socket) { return static_cast<SOCKET>(socket); }

}  // namespace

int LastError() { return lastError; }

Handle Open() {
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return Failed(), kInvalid;
    return static_cast<Handle>(s);
}

bool Bind(Handle socket, IPv4 address, std::uint16_t port) {
    const sockaddr_in sa = Address(address, port);
    if (::bind(AsSocket(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return Failed();
    return true;
}

bool EnableBroadcast(Handle socket) {
    const BOOL on = TRUE;
    if (::setsockopt(AsSocket(socket), SOL_SOCKET, SO_BROADCAST,
                     reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return Failed();
    return true;
}

bool SelectNotifications(Handle socket, MessageWindow& window) {
    if (::WSAAsyncSelect(AsSocket(socket), reinterpret_cast<HWND>(window.Handle()), kSocketMessage,
                         FD_READ | FD_WRITE) != 0)
        return Failed();
    return true;
}

void WantWrite(Handle, MessageWindow&, bool) {}  // FD_WRITE is always selected

int SendTo(Handle socket, const void* data, int length, IPv4 address, std::uint16_t port) {
    const sockaddr_in sa = Address(address, port);
    const int sent = ::sendto(AsSocket(socket), static_cast<const char*>(data), length, 0,
                              reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (sent == SOCKET_ERROR) return Failed(), -1;
    return sent;
}

int ReceiveFrom(Handle socket, MessageWindow&, void* buffer, int size, TSockAddrIn& from,
                int& fromLength) {
    fromLength = static_cast<int>(sizeof from);
    std::memset(&from, 0, sizeof from);
    const int received = ::recvfrom(AsSocket(socket), static_cast<char*>(buffer), size, 0,
                                    reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received == SOCKET_ERROR) return Failed(), -1;
    return received;
}

bool Close(Handle socket, MessageWindow& window) {
    const bool closed = ::closesocket(AsSocket(socket)) == 0 || Failed();
    // Notices that the socket posted before it closed would otherwise reach a later socket that
    // happens to get the same handle.
    MSG stale;
    while (PeekMessageA(&stale, reinterpret_cast<HWND>(window.Handle()), kSocketMessage,
                        kSocketMessage, PM_REMOVE)) {
    }
    return closed;
}

std::uint16_t LocalPort(Handle socket) {
    sockaddr_in sa;
    int length = sizeof sa;
    if (::getsockname(AsSocket(socket), reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool LookupService(const std::string& name, std::uint16_t& port) {
    const servent* entry = ::getservbyname(name.c_str(), "udp");
    if (entry == nullptr) return Failed();
    port = ntohs(static_cast<u_short>(entry->s_port));
    return true;
}

bool WaitReadable(Handle socket, int milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(AsSocket(socket), &readable);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &limit) > 0;
}

}  // namespace platform::udp
