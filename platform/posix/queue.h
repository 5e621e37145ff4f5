// How POSIX sockets hand their descriptors to the thread's message queue, which turns readiness
// into notification messages the way WSAAsyncSelect does on Windows.
#pragma once

#include <cstdint>

#include "platform/messages.h"

namespace platform::queue {

// Notification codes carried in the low word of lParam, as Windows Sockets numbers them.
constexpr std::intptr_t kFD_READ = 0x01;
constexpr std::intptr_t kFD_WRITE = 0x02;

// From now on, readiness of `fd` is announced to `window` as `message` (wParam = fd,
// lParam = the notification code). A read notification is announced once and then again only
// after Rearm, as Windows Sockets re-enables FD_READ only after a receive.
void Watch(MessageWindow& window, int fd, std::uint32_t message);
void Rearm(MessageWindow& window);
void WantWrite(MessageWindow& window, bool wanted);
void Unwatch(MessageWindow& window);

}  // namespace platform::queue
