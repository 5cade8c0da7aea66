// What the tests of the stand-in's kernel half share: a fixture that resets the stand-in before
// and after each test, HID.DLL's entry points reached as the program reaches them, and a board
// behind a HID interface.
#pragma once

#include <gtest/gtest.h>
#include <hidsdi.h>
#include <windows.h>

#include <string>

#include "sim/board.h"
#include "win32/standin.h"

class KernelTest : public ::testing::Test {
  protected:
    void SetUp() override { standin::Reset(); }
    void TearDown() override { standin::Reset(); }
};

typedef void(NTAPI* GetHidGuidProc)(LPGUID);
typedef BOOLEAN(NTAPI* GetAttributesProc)(HANDLE, PHIDD_ATTRIBUTES);
typedef BOOLEAN(NTAPI* SetFeatureProc)(HANDLE, PVOID, ULONG);
typedef BOOLEAN(NTAPI* GetFeatureProc)(HANDLE, PVOID, ULONG);

// An entry point of a loaded HID.DLL, cast as the program casts it.
template <class Proc>
Proc HidEntry(HMODULE hid, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(hid, name)));
}

// The board's interface with the shape of a real HID device path.
constexpr char kBoardPath[] =
    "\\\\?\\hid#vid_03eb&pid_0001#6&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

inline standin::HidInterface BoardInterface(sim::Board* board,
                                            const std::string& path = kBoardPath) {
    standin::HidInterface hid;
    hid.path = path;
    hid.vendorId = sim::kVendorId;
    hid.productId = sim::kProductId;
    hid.board = board;
    return hid;
}

// GetLastError() with the type of the ERROR_ constants, so that the two compare without a cast.
inline long LastError() { return static_cast<long>(GetLastError()); }

// Opens an interface as the program does: shared read/write, synchronous or overlapped.
inline HANDLE OpenDevice(const std::string& path, DWORD flags = 0) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}
