// Forced in front of every source of the program in the kelm-demo.exe build, and only there.
//
// The Win32 headers come first, so that their own declarations keep the real names; from here
// on the program's device-facing calls go to demo_link.h, which routes the demo board's traffic
// to the simulated board and passes everything else on to Windows.
#pragma once

#include <windows.h>

#include <hidsdi.h>
#include <setupapi.h>

#include "demo/demo_link.h"

#define LoadLibraryA DemoLoadLibraryA
#define GetProcAddress DemoGetProcAddress
#define FreeLibrary DemoFreeLibrary
#define SetupDiGetClassDevsA DemoSetupDiGetClassDevsA
#define SetupDiEnumDeviceInterfaces DemoSetupDiEnumDeviceInterfaces
#define SetupDiGetDeviceInterfaceDetailA DemoSetupDiGetDeviceInterfaceDetailA
#define SetupDiDestroyDeviceInfoList DemoSetupDiDestroyDeviceInfoList
#define CreateFileA DemoCreateFileA
#define WriteFile DemoWriteFile
#define ReadFile DemoReadFile
#define GetOverlappedResult DemoGetOverlappedResult
#define CancelIo DemoCancelIo
#define CancelIoEx DemoCancelIoEx
#define CloseHandle DemoCloseHandle
