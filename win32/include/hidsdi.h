// Host stand-in: HID class library declarations. The program never links these; it resolves
// them from "HID.DLL" by name, as on Windows.
#pragma once

#include <windows.h>

typedef struct _HIDD_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
} HIDD_ATTRIBUTES, *PHIDD_ATTRIBUTES;

extern "C" {
void NTAPI HidD_GetHidGuid(LPGUID hidGuid);
BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
BOOLEAN NTAPI HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length);
BOOLEAN NTAPI HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length);
}
