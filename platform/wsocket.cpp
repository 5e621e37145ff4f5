// The socket component's logic, the same on every system: states, texts, failures reported through
// OnError, the send queue, the look-up routines, and the counted start of Windows Sockets.
#include "platform/wsocket.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "platform/cancel.h"
#include "platform/names.h"
#include "platform/udp.h"

namespace {

std::mutex startMutex;
int socketObjects = 0;      // socket objects alive in the process
bool socketsStarted = false;  // the component has started Windows Sockets and not ended it

// Windows Sockets is started at the component's first call that needs it, and ended when its
// last socket object is freed.
void EnsureSocketsStarted() {
    std::lock_guard<std::mutex> lock(startMutex);
    if (socketsStarted) return;
    const int code = platform::SocketsStartup();
    if (code != 0) throw ESocketException("Unable to start Windows Sockets", code);
    socketsStarted = true;
}

std::string Trim(const std::string& text) {
    const auto notBlank = [](unsigned char c) { return c > ' '; };
    auto first = std::find_if(text.begin(), text.end(), notBlank);
    auto last = std::find_if(text.rbegin(), text.rend(), notBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Four decimal numbers from 0 to 255 joined by dots, nothing else.
bool ParseDotted(const std::string& text, platform::IPv4& address) {
    std::uint8_t bytes[4];
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && IsDigit(text[at]) && at - start < 3)
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        if (at == start || value > 255) return false;
        bytes[part] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size()) return false;
    address = platform::IPv4FromBytes(bytes[0], bytes[1], bytes[2], bytes[3]);
    return true;
}

}  // namespace

TWSocket::TWSocket(TComponent* owner) : TComponent(owner) {
    {
        std::lock_guard<std::mutex> lock(startMutex);
        ++socketObjects;
    }
    window_.reset(new platform::MessageWindow(
        [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
            WindowProcedure(message, wParam, lParam);
        }));
}

TWSocket::~TWSocket() {
    // The window first: from here on no notification runs this object's code, on any thread.
    window_->Disconnect();
    CloseHandle(false);
    window_.reset();
    std::lock_guard<std::mutex> lock(startMutex);
    if (--socketObjects == 0 && socketsStarted) {
        socketsStarted = false;
        platform::SocketsCleanup();
    }
}

void AbandonSocketsStartup() {
    std::lock_guard<std::mutex> lock(startMutex);
    socketsStarted = false;
}

void TWSocket::Fail(int code, const std::string& what) {
    if (code != 0) lastError_ = code;
    if (OnError) {
        OnError(this);
        return;
    }
    throw ESocketException(what, lastError_);
}

void TWSocket::SetAddr(const std::string& value) {
    if (state_ != wsClosed) return Fail(platform::kWSAEINVAL, "Cannot change Addr when not closed");
    addr_ = Trim(value);
}

void TWSocket::SetPort(const std::string& value) {
    if (state_ != wsClosed) return Fail(platform::kWSAEINVAL, "Cannot change Port when not closed");
    port_ = Trim(value);
}

void TWSocket::SetProto(const std::string& value) {
    if (state_ != wsClosed) return Fail(platform::kWSAEINVAL, "Cannot change Proto when not closed");
    proto_ = Trim(value);
}

// The port as decimal text or a service name for UDP.
bool TWSocket::PreparePort(std::uint16_t& port) {
    if (port_.empty()) {
        Fail(0, "Port not assigned");
        return false;
    }
    if (std::all_of(port_.begin(), port_.end(), IsDigit)) {
        unsigned long value = port_.size() <= 5 ? std::stoul(port_) : 65536;
        if (value > 65535) {
            Fail(platform::kWSAEINVAL, "Invalid port " + port_);
            return false;
        }
        port = static_cast<std::uint16_t>(value);
        return true;
    }
    if (!platform::udp::LookupService(port_, port)) {
        Fail(platform::udp::LastError(), "Cannot convert port " + port_);
        return false;
    }
    return true;
}

void TWSocket::Listen() {
    if (state_ != wsClosed) return Fail(platform::kWSAEINVAL, "Socket is already open");
    if (Lower(proto_) != "udp") return Fail(platform::kWSAEPROTONOSUPPORT, "Unsupported protocol");
    std::uint16_t port;
    if (!PreparePort(port)) return;
    if (addr_.empty()) return Fail(0, "Address not assigned");
    platform::IPv4 address;
    try {
        EnsureSocketsStarted();
        address = WSocketResolveHost(addr_);
    } catch (const ESocketException& e) {
        return Fail(e.code(), e.what());
    }
    handle_ = platform::udp::Open();
    if (handle_ == platform::udp::kInvalid) return Fail(platform::udp::LastError(), "socket failed");
    state_ = wsOpened;
    if (!platform::udp::Bind(handle_, address, port)) {
        const int code = platform::udp::LastError();
        CloseHandle(false);
        return Fail(code, "bind failed");
    }
    state_ = wsBound;
    if (!platform::udp::SelectNotifications(handle_, *window_)) {
        const int code = platform::udp::LastError();
        CloseHandle(false);
        return Fail(code, "Cannot set up notifications");
    }
    state_ = wsListening;
    localPort_ = std::to_string(platform::udp::LocalPort(handle_));
    state_ = wsConnected;  // a listening datagram socket receives at once
}

void TWSocket::Connect() {
    if (state_ != wsClosed) return Fail(platform::kWSAEINVAL, "Socket is already open");
    if (Lower(proto_) != "udp") return Fail(platform::kWSAEPROTONOSUPPORT, "Unsupported protocol");
    std::uint16_t port;
    if (!PreparePort(port)) return;
    if (addr_.empty()) return Fail(0, "Address not assigned");
    try {
        EnsureSocketsStarted();
        destination_ = WSocketResolveHost(addr_);
    } catch (const ESocketException& e) {
        return Fail(e.code(), e.what());
    }
    destinationPort_ = port;
    handle_ = platform::udp::Open();
    if (handle_ == platform::udp::kInvalid) return Fail(platform::udp::LastError(), "socket failed");
    state_ = wsOpened;
    if (!platform::udp::Bind(handle_, 0, 0)) Fail(platform::udp::LastError(), "bind failed");
    if (destination_ == platform::IPv4FromBytes(255, 255, 255, 255) &&
        !platform::udp::EnableBroadcast(handle_))
        return Fail(platform::udp::LastError(), "Cannot enable broadcast");
    if (!platform::udp::SelectNotifications(handle_, *window_))
        return Fail(platform::udp::LastError(), "Cannot set up notifications");
    localPort_ = std::to_string(platform::udp::LocalPort(handle_));
    state_ = wsConnected;
}

int TWSocket::Send(const void* data, int length) {
    if (state_ != wsConnected) {
        lastError_ = platform::kWSAENOTCONN;
        Close();
        Fail(platform::kWSAENOTCONN, "Socket not connected");
        return -1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    pendingSends_.emplace_back(bytes, bytes + length);
    FlushSends();
    return length;
}

// Sends what is queued, one datagram each; what would block waits for the next write notice.
void TWSocket::FlushSends() {
    while (!pendingSends_.empty() && state_ == wsConnected) {
        const std::vector<std::uint8_t>& datagram = pendingSends_.front();
        const int sent = platform::udp::SendTo(handle_, datagram.data(),
                                               static_cast<int>(datagram.size()), destination_,
                                               destinationPort_);
        if (sent >= 0) {
            pendingSends_.pop_front();
            continue;
        }
        const int code = platform::udp::LastError();
        if (code == platform::kWSAEWOULDBLOCK) {
            platform::udp::WantWrite(handle_, *window_, true);
            return;
        }
        pendingSends_.clear();
        switch (code) {
            case platform::kWSAEINVAL:
            case platform::kWSAENOTSOCK:
            case platform::kWSAECONNABORTED:
            case platform::kWSAECONNRESET:
            case platform::kWSAENOTCONN:
                lastError_ = code;
                Close();
                return;
            default:
                return Fail(code, "sendto failed");
        }
    }
    if (handle_ != platform::udp::kInvalid) platform::udp::WantWrite(handle_, *window_, false);
}

int TWSocket::ReceiveFrom(void* buffer, int size, TSockAddrIn& from, int& fromLength) {
    if (handle_ == platform::udp::kInvalid) {
        lastError_ = platform::kWSAENOTSOCK;
        return -1;
    }
    const int received =
        platform::udp::ReceiveFrom(handle_, *window_, buffer, size, from, fromLength);
    if (received < 0) lastError_ = platform::udp::LastError();
    return received;
}

void TWSocket::Close() { CloseHandle(true); }

void TWSocket::CloseHandle(bool report) {
    if (state_ == wsClosed && handle_ == platform::udp::kInvalid) return;
    const bool closed = handle_ == platform::udp::kInvalid ||
                        platform::udp::Close(handle_, *window_);
    const int code = closed ? 0 : platform::udp::LastError();
    handle_ = platform::udp::kInvalid;
    state_ = wsClosed;
    addr_.clear();
    port_.clear();
    proto_ = "tcp";
    localPort_ = "0";
    pendingSends_.clear();
    if (!closed && report) Fail(code, "closesocket failed");
}

bool TWSocket::OnCallingThread() const { return window_->OnCallingThread(); }


SNTP_CATCHES_THREAD_CANCELLATION void TWSocket::WindowProcedure(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != platform::udp::kSocketMessage) return;
    // A notice for a socket that has been closed since, or for an earlier handle, is stale.
    if (state_ == wsClosed || static_cast<std::intptr_t>(wParam) != handle_) return;
    const int event = static_cast<int>(lParam & 0xFFFF);
    const auto error = static_cast<std::uint16_t>((lParam >> 16) & 0xFFFF);
    // Nothing may unwind through the system's dispatching code.
    try {
        if (event & platform::udp::kReadEvent) {
            if (OnDataAvailable) OnDataAvailable(this, error);
        } else if (event & platform::udp::kWriteEvent) {
            FlushSends();
        }
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
    }
}

platform::IPv4 WSocketResolveHost(const std::string& text) {
    const std::string host = Trim(text);
    if (host.empty()) throw ESocketException("Winsock Resolve Host: Cannot convert host address ''");
    if (host.size() > 256) throw ESocketException("Winsock Resolve Host: host name too long");
    platform::IPv4 address;
    if (IsDigit(host[0])) {
        if (!ParseDotted(host, address))
            throw ESocketException("Winsock Resolve Host: Invalid address '" + host + "'",
                                   platform::kWSAEINVAL);
        return address;
    }
    EnsureSocketsStarted();
    std::vector<platform::IPv4> addresses;
    if (!platform::ResolveName(host, addresses) || addresses.empty())
        throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + host + "'",
                               platform::kWSAHOST_NOT_FOUND);
    return addresses.front();
}

std::vector<std::string> LocalIPList() {
    EnsureSocketsStarted();
    std::vector<platform::IPv4> addresses;
    if (!platform::OwnAddresses(addresses))
        throw ESocketException("Winsock.GetHostName failed: this machine's addresses cannot be read");
    std::vector<std::string> list;
    for (platform::IPv4 address : addresses) list.push_back(platform::DottedText(address));
    return list;
}
