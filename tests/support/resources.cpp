// Counting a process's descriptors and the library's hidden windows.
#include "tests/support/resources.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

namespace testing_support {

#ifdef _WIN32
int OpenDescriptors() { return 0; }

int HiddenWindows() {
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExA(HWND_MESSAGE, window, "SntpClientHiddenWindow", nullptr)) !=
           nullptr)
        ++count;
    return count;
}
#else
int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

int HiddenWindows() { return 0; }
#endif

}  // namespace testing_support
