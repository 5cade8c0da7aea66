// The one binding of kelm.exe and kelmtool.exe to the Windows HID stack: HID.DLL loaded by name,
// the kelm board told by its USB identity, and the walk over the HID interfaces present.
#pragma once

#include <windows.h>

#include <hidsdi.h>

#include <cstddef>
#include <functional>

// Neither program links hid.lib: HID.DLL is loaded by name and these are looked up in it, so
// that a missing library is reported by the program itself instead of keeping it from starting.
using HidGetHidGuidFn = void(NTAPI*)(LPGUID);
using HidGetAttributesFn = BOOLEAN(NTAPI*)(HANDLE, PHIDD_ATTRIBUTES);
using HidSetFeatureFn = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);
using HidGetFeatureFn = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);

struct HidBinding {
    HMODULE module = nullptr;
    HidGetHidGuidFn getHidGuid = nullptr;
    HidGetAttributesFn getAttributes = nullptr;
    HidSetFeatureFn setFeature = nullptr;  // must exist, never called
    HidGetFeatureFn getFeature = nullptr;
};

enum class HidBindResult { Bound, NotLoaded, EntryMissing };

// Loads "HID.DLL" and resolves "HidD_GetHidGuid", "HidD_GetAttributes", "HidD_SetFeature" and
// "HidD_GetFeature", in that order. NotLoaded leaves the system's error as LoadLibraryA set it;
// EntryMissing leaves the module loaded, for the caller to say so before it releases it.
HidBindResult BindHid(HidBinding& hid);
// Frees the module, if loaded, and forgets every entry point.
void ReleaseHid(HidBinding& hid);

// Another entry point of the bound module, null when it is missing. Goes through void(*)() so
// that the conversion from FARPROC draws no cast-function-type warning.
template <typename Fn>
Fn LookUpHidEntry(const HidBinding& hid, const char* name) {
    const FARPROC entry = GetProcAddress(hid.module, name);
    return entry == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(entry));
}

// Whether an open HID handle is the kelm board: its attributes can be read and carry the board's
// vendor and product IDs.
bool IsKelmBoard(const HidBinding& hid, HANDLE device);

enum class HidWalk { Stopped, Exhausted, SetUnavailable };

// Called with each interface's NUL-terminated device path and its length; true stops the walk.
using HidInterfaceVisit = std::function<bool(const char* path, size_t length)>;

// Visits the HID interfaces present now, in the system's order, until visit says stop. An
// interface whose path cannot be read is passed over. The device set is released before the walk
// returns; the path given to visit lives only for that call.
HidWalk WalkHidInterfaces(const HidBinding& hid, const HidInterfaceVisit& visit);
