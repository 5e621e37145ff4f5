// What happens when the library is unloaded from a process that keeps running.
#pragma once

namespace platform {

// The handler runs when the library is unloaded explicitly (FreeLibrary, dlclose), not when the
// whole process ends. It must make no start-up or clean-up call of Windows Sockets.
void SetUnloadHandler(void (*handler)());

}  // namespace platform
