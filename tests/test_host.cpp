// A host program's view: the built library loaded at run time, its four functions found by name
// (and on Windows by ordinal), called through the published calling convention, and unloaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/sntpclient.h"

#ifdef _WIN32
#include <windows.h>
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

}  // namespace
