// One exchange of the extended query over the system's sockets: the request sent to the first of
// the server's addresses that takes it, and a wait for its answer in which every other datagram is
// ignored. No window, no message queue, no listening socket; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/net.h"
#include "sntp/exchange.h"

namespace sntp {

struct ExchangeResult {
    Reason reason = kReasonTimeout;
    std::string address;         // the address the request went to (numeric text), if any
    bool answered = false;       // an answer came; `header` holds it
    Header header{};
    OffsetAndDelay sample{0, 0};  // where the answer was usable
    std::int64_t serverTimeNs = 0;  // the server's transmit time, UTC ns since 1970
};

ExchangeResult RunExchange(const std::vector<platform::net::SocketAddress>& addresses,
                           int timeoutMs);

}  // namespace sntp
