// The UDP socket component: an event-driven socket object that owns a hidden window on the thread
// that creates it and announces arriving datagrams as events, with the look-up routines beside it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/component.h"
#include "platform/address.h"
#include "platform/messages.h"
#include "platform/udp.h"

class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& message, int code = 0)
        : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

enum TSocketState { wsClosed, wsOpened, wsBound, wsListening, wsConnected };

class TWSocket : public TComponent {
public:
    explicit TWSocket(TComponent* owner);
    ~TWSocket() override;

    // Address, port and protocol are texts, trimmed here and looked up only when the socket is
    // opened. They can be assigned only while the socket is closed; closing forgets them.
    const std::string& Addr() const { return addr_; }
    const std::string& Port() const { return port_; }
    const std::string& Proto() const { return proto_; }
    void SetAddr(const std::string& value);
    void SetPort(const std::string& value);
    void SetProto(const std::string& value);
    // The local port the system gave the socket, "0" while closed.
    const std::string& LocalPort() const { return localPort_; }
    TSocketState State() const { return state_; }
    // The Windows Sockets code of the last failure; an earlier value where a step had no code.
    int LastError() const { return lastError_; }

    // Opens a datagram socket bound to Addr:Port and announces every datagram that arrives.
    void Listen();
    // Opens a datagram socket on a port the system chooses and keeps Addr:Port for the sends.
    void Connect();
    // Sends one datagram to the kept destination; -1 when the socket is not open.
    int Send(const void* data, int length);
    // Takes one waiting datagram; its length, or a negative value on failure (a datagram longer
    // than the buffer included). Fills the sender's address.
    int ReceiveFrom(void* buffer, int size, TSockAddrIn& from, int& fromLength);
    void Close();
    // Whether the socket's notifications reach the calling thread: the one that created it. A
    // socket may be freed from any thread.
    bool OnCallingThread() const;

    TDataAvailable OnDataAvailable;
    // While assigned, failures are reported here instead of raising ESocketException.
    TNotifyEvent OnError;
    // Called instead of the socket's own message processing (platform::DispatchWaitingMessages)
    // whenever it has to wait inside one of its own operations. A UDP socket never has to: closing it does not linger.
    TNotifyEvent OnMessagePump;

private:
    void Fail(int code, const std::string& what);
    bool PreparePort(std::uint16_t& port);
    void WindowProcedure(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    void FlushSends();
    void CloseHandle(bool report);

    std::string addr_, port_, proto_ = "tcp", localPort_ = "0";
    TSocketState state_ = wsClosed;
    int lastError_ = 0;
    std::intptr_t handle_ = -1;
    platform::IPv4 destination_ = 0;
    std::uint16_t destinationPort_ = 0;
    std::deque<std::vector<std::uint8_t>> pendingSends_;
    std::unique_ptr<platform::MessageWindow> window_;
};

// Resolves dotted IPv4 text or a host name into an address in network byte order. The text is
// trimmed; text that starts with a decimal digit is dotted text and never looked up. Raises
// ESocketException for empty or over-long text, malformed dotted text and unknown names.
platform::IPv4 WSocketResolveHost(const std::string& text);

// The dotted text of every one of this machine's own IPv4 addresses, in the system's order (see
// platform::OwnAddresses). Raises ESocketException when they cannot be read or Windows Sockets
// cannot be started.
std::vector<std::string> LocalIPList();

// Forgets that the socket component started Windows Sockets, without ending it: for unloading,
// where no clean-up call may be made.
void AbandonSocketsStartup();
