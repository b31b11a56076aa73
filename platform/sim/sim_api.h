// Inside the simulated platform: its stand-ins for the Win32 functions the
// library calls, with the same signatures and calling convention. On the host
// the real names forward to them (host_bindings.cpp); under Windows a test
// program points the DLL's imports at them.
#pragma once

#include "platform/sim/control.h"
#include "platform/win32.h"

extern "C" {

HANDLE WINAPI SimCreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                             LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                             DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI SimDeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                               DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                               LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
BOOL WINAPI SimCloseHandle(HANDLE hObject);
int WINAPI SimMessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

LSTATUS WINAPI SimRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                  DWORD dwOptions, REGSAM samDesired,
                                  LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                  LPDWORD lpdwDisposition);
LSTATUS WINAPI SimRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                PHKEY phkResult);
LSTATUS WINAPI SimRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                 const BYTE* lpData, DWORD cbData);
LSTATUS WINAPI SimRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI SimRegCloseKey(HKEY hKey);

} // extern "C"

namespace SimDevice {
void reset();
}

namespace SimNotices {
void reset();
}

// The axes' own motion (motion.cpp, host programs only): catchUp() brings
// every axis to where its speed has carried it; the environment's "still"
// keeps them where they are.
namespace SimMotion {
void catchUp();
void reset();
bool stillByRequest();
}

// The registry's store: the in-memory tree on the host (registry.cpp); in the
// Windows test program, the real registry behind thin wrappers.
namespace SimRegistry {
void reset();
}

// The registry faults set through control.h, shared by both stores. Each
// call counts as one platform call of its kind (SimFaults) and tells whether
// it must fail, by number or by its path or value name.
namespace SimRegistryFaults {
bool create(const char* path);
bool open(const char* path);
bool set(const char* valueName);
bool remove(const char* path);
// Keeps a call for Sim::registryCall().
void record(const Sim::RegistryCall& call);
void reset();
}
