// The Windows test program's harness: it points the DLL's imports at the
// simulated driver, board and notices and at the registry wrappers, and reads
// the DLL's own PE headers for the checks of the shipped binary.
#pragma once

#include "platform/win32.h"

extern "C" {

// The registry functions the DLL imports, wrapped (registry.cpp).
LSTATUS WINAPI WrapRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                   DWORD dwOptions, REGSAM samDesired,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                   LPDWORD lpdwDisposition);
LSTATUS WINAPI WrapRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                 PHKEY phkResult);
LSTATUS WINAPI WrapRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                  const BYTE* lpData, DWORD cbData);
LSTATUS WINAPI WrapRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI WrapRegCloseKey(HKEY hKey);

} // extern "C"

namespace Harness {

constexpr const char DllName[] = "2KZQ4810.dll";

// The loaded DLL (it is a load-time import of the test program).
HMODULE dll();

// The DLL's headers, as mapped.
const IMAGE_NT_HEADERS32* ntHeaders();

// Address of something at a relative virtual address inside the DLL.
template <typename T>
const T* at(DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(dll()) + rva);
}

// Points every import of the DLL that the simulator stands in for at its
// stand-in. Returns how many import slots were changed, -1 when the DLL's
// import table cannot be written.
int redirectImports();

} // namespace Harness
