// The demo build's stand-ins for the device-facing Win32 calls of the program.
//
// kelm-demo.exe compiles the program's own sources with device_seam.h forced in front, which
// renames these calls to the functions below. They serve one HID interface, the simulated kelm
// board of demo_board.h, and hand every other module, device set, file and handle to Windows,
// so that the program cannot tell the demo board from a real one. kelm.exe has none of this.
#pragma once

#include <windows.h>

#include <setupapi.h>

// HID.DLL: "loaded" without touching the system's HID stack; the module handle is the demo's
// own, and its four entry points are the demo's.
HMODULE WINAPI DemoLoadLibraryA(LPCSTR name);
FARPROC WINAPI DemoGetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI DemoFreeLibrary(HMODULE module);

// The HID interface list: the demo board while it is plugged in, and nothing else. These restate
// the Win32 signatures they stand in for on purpose: the seam renames the real calls to them.
HDEVINFO WINAPI DemoSetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                         DWORD flags);
BOOL WINAPI DemoSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                            const GUID* classGuid, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data);
BOOL WINAPI DemoSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                 DWORD detailSize, PDWORD requiredSize,
                                                 PSP_DEVINFO_DATA device);
BOOL WINAPI DemoSetupDiDestroyDeviceInfoList(HDEVINFO set);

// Files: the demo board's device path opens a handle to the board, any other path a file.
HANDLE WINAPI DemoCreateFileA(LPCSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile);
BOOL WINAPI DemoWriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written,
                          LPOVERLAPPED overlapped);
BOOL WINAPI DemoReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read,
                         LPOVERLAPPED overlapped);
BOOL WINAPI DemoGetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                    BOOL wait);
BOOL WINAPI DemoCancelIo(HANDLE file);
BOOL WINAPI DemoCancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
BOOL WINAPI DemoCloseHandle(HANDLE handle);
