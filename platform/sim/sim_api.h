// Inside the simulated platform: its stand-ins for the Win32 functions the
// library calls, with the same signatures and calling convention. On the host
// the real names forward to them (host_bindings.cpp); under Windows a test
// program points the DLL's imports at them.
#pragma once

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

} // extern "C"

namespace SimDevice {
void reset();
}

namespace SimNotices {
void reset();
}
