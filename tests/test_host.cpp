// A host program's view: the built library loaded at run time, its four functions found by name
// (and on Windows by ordinal), called through the published calling convention, and unloaded.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "library/sntpclient.h"

#ifdef _WIN32
#include <windows.h>

#include "tests/support/resources.h"
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
const char kLibrary[] = "sntpclient.dll";
using Module = HMODULE;
Module Load() { return LoadLibraryA(kLibrary); }
void* Find(Module m, const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); }
void* FindOrdinal(Module m, int ordinal) {
    return reinterpret_cast<void*>(GetProcAddress(m, MAKEINTRESOURCEA(ordinal)));
}
void Unload(Module m) { FreeLibrary(m); }
#else
const char kLibrary[] = "./libsntpclient.so.1";
using Module = void*;
Module Load() { return dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL); }
void* Find(Module m, const char* name) { return dlsym(m, name); }
void Unload(Module m) { dlclose(m); }
#endif

using QueryServerFn = std::uint16_t(SNTP_CALL*)(const char*, double*);
using CleanUpFn = void(SNTP_CALL*)(void);
using IsConnectedFn = std::uint8_t(SNTP_CALL*)(void);
using SetLoopFn = void(SNTP_CALL*)(SNTPLoopFunction);

struct Library {
    Module module = Load();
    QueryServerFn query = reinterpret_cast<QueryServerFn>(Find(module, "QueryServer"));
    CleanUpFn cleanUp = reinterpret_cast<CleanUpFn>(Find(module, "SNTPCleanUp"));
    IsConnectedFn isConnected = reinterpret_cast<IsConnectedFn>(Find(module, "isConnected"));
    SetLoopFn setLoop = reinterpret_cast<SetLoopFn>(Find(module, "setLoopFunction"));
};

TEST(Host, LoadsAndFindsTheFourFunctions) {
    Library lib;
    ASSERT_NE(lib.module, nullptr) << "cannot load " << kLibrary;
    ASSERT_NE(lib.query, nullptr);
    ASSERT_NE(lib.cleanUp, nullptr);
    ASSERT_NE(lib.isConnected, nullptr);
    ASSERT_NE(lib.setLoop, nullptr);
#ifdef _WIN32
    EXPECT_EQ(FindOrdinal(lib.module, 1), reinterpret_cast<void*>(lib.query));
    EXPECT_EQ(FindOrdinal(lib.module, 2), reinterpret_cast<void*>(lib.cleanUp));
    EXPECT_EQ(FindOrdinal(lib.module, 3), reinterpret_cast<void*>(lib.isConnected));
    EXPECT_EQ(FindOrdinal(lib.module, 4), reinterpret_cast<void*>(lib.setLoop));
#endif
    Unload(lib.module);
}

TEST(Host, CallsThroughTheBinaryInterface) {
    Library lib;
    ASSERT_NE(lib.module, nullptr);
    lib.cleanUp();  // before any query
    lib.setLoop(nullptr);
    double offset = 0;
    EXPECT_EQ(lib.query("", &offset), 3);
    EXPECT_EQ(offset, -1000.0);
    EXPECT_EQ(lib.query(nullptr, nullptr), 3);
    const std::uint8_t connected = lib.isConnected();
    EXPECT_TRUE(connected == 0 || connected == 1);
    lib.cleanUp();
    lib.cleanUp();
    Unload(lib.module);
}

// Unloading with a live client and its sockets frees them; a new load starts afresh.
TEST(Host, UnloadWithoutCleanUpThenLoadAgain) {
    for (int round = 0; round < 2; ++round) {
        Library lib;
        ASSERT_NE(lib.module, nullptr);
        double offset = 0;
        EXPECT_EQ(lib.query("", &offset), 3);
        Unload(lib.module);
    }
}

// The first calls of a freshly loaded library may come from two threads at once: what the library
// makes on first use is made once, without a data race (ThreadSanitizer watches this in its run).
TEST(Host, FirstCallsOnTwoThreadsAtOnce) {
    Library lib;
    ASSERT_NE(lib.module, nullptr);
    std::uint8_t connected = 9;
    std::uint16_t code = 9;
    std::thread presence([&] { connected = lib.isConnected(); });
    std::thread query([&] {
        double offset = 0;
        code = lib.query("", &offset);
    });
    presence.join();
    query.join();
    EXPECT_TRUE(connected == 0 || connected == 1);
    EXPECT_EQ(code, 3);
    lib.cleanUp();
    Unload(lib.module);
}

#ifdef _WIN32
// A host whose GUI thread queried while another thread cleans up or unloads the library: that
// thread's hidden windows must never run code of the unloaded DLL, and must not be left behind.
TEST(Host, CleanUpOrUnloadFromAnotherThread) {
    for (const bool cleanUpFirst : {false, true}) {
        SCOPED_TRACE(cleanUpFirst ? "SNTPCleanUp, then FreeLibrary" : "FreeLibrary alone");
        Library lib;
        ASSERT_NE(lib.module, nullptr);
        const int windowsBefore = testing_support::HiddenWindows();
        HANDLE queried = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE unloaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread gui([&] {
            double offset = 0;
            lib.query("", &offset);  // makes the client's sockets and their windows here
            SetEvent(queried);
            // A GUI thread takes its messages, those of the library's windows included.
            for (;;) {
                MSG message;
                while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
                if (WaitForSingleObject(unloaded, 0) == WAIT_OBJECT_0) break;
                MsgWaitForMultipleObjects(1, &unloaded, FALSE, 50, QS_ALLINPUT);
            }
            // After the unload: a message to every window the library left must not reach it.
            HWND window = nullptr;
            while ((window = FindWindowExA(HWND_MESSAGE, window, "SntpClientHiddenWindow", nullptr)))
                PostMessageA(window, WM_USER + 1, 0, 0);
            for (int i = 0; i < 10; ++i) {
                MSG message;
                while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        WaitForSingleObject(queried, INFINITE);
        EXPECT_GT(testing_support::HiddenWindows(), windowsBefore) << "the GUI thread has windows";
        if (cleanUpFirst) lib.cleanUp();
        Unload(lib.module);
        SetEvent(unloaded);
        gui.join();  // a window that ran the unloaded code would have crashed the process here
        EXPECT_EQ(testing_support::HiddenWindows(), windowsBefore) << "no window left behind";
        CloseHandle(queried);
        CloseHandle(unloaded);
    }
}
#endif

}  // namespace
