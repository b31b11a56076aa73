// The one road from the library to the operating system.
//
// On Windows this is <windows.h> and nothing else. On any other host it
// declares the small part of the Win32 API the library calls, with the
// widths those types have on 32-bit Windows, and the build links the
// simulated platform (platform/sim/) that defines the functions. The library
// code therefore reads exactly like the Windows code it is, with no wrapper
// layer in the shipped DLL.
//
// At the end, one type per function the library calls, taken from its real
// declaration: every stand-in for one of them, in every binding, is declared
// with that type, so a wrong parameter list or calling convention does not
// compile.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else // the simulated platform

// It stands for <windows.h> and is treated like it: its macros are the
// system's, written the system's way.
#pragma GCC system_header

#include <stddef.h>
#include <stdint.h>

#define WINAPI

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef LONG LSTATUS;
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char CHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef const BYTE* LPCBYTE;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef uintptr_t ULONG_PTR;

typedef struct HWND__* HWND;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u

#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define KEY_ALL_ACCESS 0x000F003Fu
#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define MB_OK 0x00000000u
#define MB_YESNO 0x00000004u
#define MB_ICONERROR 0x00000010u
#define IDOK 1
#define IDYES 6
#define IDNO 7

#ifdef __cplusplus
extern "C" {
#endif

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
BOOL WINAPI CloseHandle(HANDLE hObject);

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition);
LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult);
LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData);
LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI RegCloseKey(HKEY hKey);

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

#ifdef __cplusplus
}
#endif

#endif // _WIN32

#ifdef __cplusplus

// What the library relies on from each function, and the test that holds it.

// The device opens for reading and for writing at once, as the library holds
// both (ChannelTest.OpensTheDeviceForReadingThenForWritingWithExactFlags,
// SimDeviceTest.OnlyTheBoardsDeviceOpensAndBothDirectionsMayBeOpenAtOnce).
using CreateFileAFunction = decltype(CreateFileA);
// Synchronous without an OVERLAPPED, with the returned length set; never
// given a handle that is not open, since INVALID_HANDLE_VALUE names the
// process itself (ChannelTest.ReadOpeningFailsAndWritingIsNotAttempted,
// ChannelTest.ReadRepliesOfAnyLengthButOneGiveOneAndTheirNotice).
using DeviceIoControlFunction = decltype(DeviceIoControl);
// Closing INVALID_HANDLE_VALUE succeeds (it is the process), so the library
// never closes a handle that is not open
// (ChannelTest.ClosingWithoutOpeningOrTwiceShowsBothNoticesAndGives510,
// ChannelTest.AFailedReopeningKeepsNoStaleWriteHandle).
using CloseHandleFunction = decltype(CloseHandle);
// Creates missing parents and tells a new key from an existing one, which is
// CHECKIFDRIVER's answer (RegistryMatchesWindows.CreatingMakesMissingParentsAndTellsNewFromExisting).
using RegCreateKeyExAFunction = decltype(RegCreateKeyExA);
// Finds existing keys only, also named with a trailing backslash, as the
// services root is (RegistryMatchesWindows.OpeningFindsExistingKeysOnly).
using RegOpenKeyExAFunction = decltype(RegOpenKeyExA);
// Keeps the type and the exact bytes, a text's zero included
// (RegistryMatchesWindows.ValuesKeepTheirTypeAndExactBytes).
using RegSetValueExAFunction = decltype(RegSetValueExA);
// Refuses a key with subkeys and a missing key, so removal goes subkeys
// first and counts each refusal (RegistryMatchesWindows.DeletingRefusesKeysWithSubkeysAndMissingKeys).
using RegDeleteKeyAFunction = decltype(RegDeleteKeyA);
// Fails on a handle that is not open, so a key closed twice shows
// (RegistryMatchesWindows.ClosingAHandleThatIsNotOpenFails).
using RegCloseKeyFunction = decltype(RegCloseKey);
// Returns the button pressed: only IDNO declines a Yes/No question, and
// anything else, like headless Wine's -1, goes on (RegistrationTest.AnyAnswerButNoGoesOn).
using MessageBoxAFunction = decltype(MessageBoxA);

#endif // __cplusplus
