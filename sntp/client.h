// TSNTPClient: a non-visual component that asks one SNTP server for its time over two UDP sockets
// and reports how each query ended through its events.
#pragma once

#include <cstdint>
#include <string>

#include "platform/component.h"
#include "platform/address.h"
#include "platform/wsocket.h"
#include "sntp/message.h"

class TSNTPClient : public TComponent {
public:
    explicit TSNTPClient(TComponent* owner);

    // Published properties. HostAddr and HostPort are stored as given; Timeout keeps a positive
    // value and stores 0 for anything else.
    std::string HostAddr;
    std::string HostPort;
    std::int32_t Timeout() const { return FTimeout; }
    void SetTimeout(std::int32_t value) { FTimeout = value > 0 ? value : 0; }

    TDataAvailable OnDataAvailable;  // a reply in time was accepted and ServerTime set
    TNotifyEvent OnTimeout;          // the time limit passed and no datagram had arrived
    TSNTPError OnWinsockError;       // a socket reported a failure
    TNotifyEvent OnResolveError;     // the server was not resolved; nothing was sent
    TNotifyEvent OnReceiveError;     // handling a datagram raised an exception

    // One query: make sure the sockets exist, find the local address, resolve the server, open
    // both sockets and send the request, or raise OnResolveError.
    void StartQuery();
    // Dispatches every message waiting for the calling thread; the sockets' hook as well.
    void ProcessSocketMessages(TObject* Sender);
    // Ends a query in which no datagram arrived: TimedOut, both sockets closed, OnTimeout.
    void QueryTimeout();
    // Closes and frees both sockets; the next query creates new ones.
    void ReleaseSockets();
    // Closes both sockets, if they exist, and keeps them for the next query.
    void CloseSockets();
    // Whether the sockets, if they exist, deliver their notifications to the calling thread.
    bool SocketsOnCallingThread() const;
    // Whether the failure forwarded last was the listening socket's (port 123 held by another
    // program, or no privilege for it), which the query socket can do without.
    bool ListenSocketFailedLast() const;
    // The handler of both sockets' OnError: forwards the failure as OnWinsockError.
    void SocketErrorOccurred(TObject* Sender);
    // The handler of both sockets' data-available event: judges, decodes and times one reply.
    void SocketDataAvailable(TObject* Sender, std::uint16_t Error);
    // Writes the decoded fields from a 48-byte reply.
    void DecodeReply(const std::uint8_t* reply);

    std::string GetLocalIP();
    static std::string AddrToText(platform::IPv4 address);

    // The record of the last query, decoded from the last accepted reply.
    std::int32_t LeapIndicator = 0;
    std::int32_t VersionNumber = 0;
    std::int32_t Mode = 0;
    std::int32_t Stratum = 0;
    std::int32_t Poll = 0;
    std::int32_t Precision = 0;
    double RootDelay = 0;        // seconds
    double RootDispersion = 0;   // seconds
    double ReferenceTimestamp = 0;  // day values, on the server's time scale
    double OriginateTimestamp = 0;
    double ReceiveTimestamp = 0;
    double TransmitTimestamp = 0;
    double ServerTime = 0;  // the server's clock when the last reply in time arrived
    bool ReplyInvalid = false;
    double LastTransmitTimestamp = 0;
    double ServerTimeEstimate = 0;
    std::int32_t RoundTrip = 0;  // milliseconds
    bool TimedOut = false;
    bool RequestSent = false;
    bool ReplyReceived = false;
    std::uint32_t ReceiveTick = 0;
    std::uint32_t SendTick = 0;
    std::string ListenPort;
    platform::IPv4 ServerAddr = 0;  // network byte order
    std::string ServerIP;
    std::string LocalIP;
    bool SocketsCreated = false;
    TComponent* SocketOwner;
    TWSocket* QuerySocket = nullptr;
    TWSocket* ListenSocket = nullptr;
    sntp::Message RawReply{};
    // The socket whose failure was forwarded last, so that the client's user can tell a failure of
    // the listening socket from one of the query socket.
    TWSocket* LastErrorSocket = nullptr;

private:
    void OpenSockets();
    void SendRequest();

    std::int32_t FTimeout;
};
