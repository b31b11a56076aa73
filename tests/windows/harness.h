// The Windows test program's harness: it points the DLL's imports at the
// simulated platform's stand-ins, and reads the DLL's own PE headers for the
// checks of the shipped binary. It serves the 32-bit and the 64-bit program:
// the system headers' IMAGE_NT_HEADERS and IMAGE_THUNK_DATA are those of the
// width being built (PE32 or PE32+, 4- or 8-byte import slots).
#pragma once

#include "platform/win32.h"

namespace Harness {

constexpr const char DllName[] = "2KZQ4810.dll";

// The loaded DLL (it is a load-time import of the test program).
HMODULE dll();

// The DLL's headers, as mapped.
const IMAGE_NT_HEADERS* ntHeaders();

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
