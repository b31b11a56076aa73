// The DLL's nine imports, served by the simulated platform this program links
// (the same functions the library built for the host calls).
#include "tests/emulator/imports.h"

#include "platform/win32.h"

#include <cstdio>
#include <cstring>

namespace Emulator {

// The parts of the guest the DLL may write into: its own data and the stack.
bool guestMayWrite(uint32_t address, uint32_t size);

namespace {

constexpr size_t MaxText = 1024;
constexpr size_t MaxBuffer = 4096;

// One call's view of the guest: reads and writes that fail leave a problem,
// and the call is then not made.
struct Guest {
    uc_engine* uc;
    char* problem;
    size_t size;

    bool complain(const char* what, uint32_t address)
    {
        if (problem[0] == '\0') {
            std::snprintf(problem, size, "%s at 0x%08x", what, address);
        }
        return false;
    }

    // A string argument; null stays null.
    bool text(uint32_t address, char (&into)[MaxText], const char** result)
    {
        *result = nullptr;
        if (address == 0) {
            return true;
        }
        for (size_t i = 0; i < MaxText; ++i) {
            if (uc_mem_read(uc, address + i, &into[i], 1) != UC_ERR_OK) {
                return complain("a string runs into memory the DLL does not have", address);
            }
            if (into[i] == '\0') {
                *result = into;
                return true;
            }
        }
        return complain("a string longer than 1024 bytes", address);
    }

    bool read(uint32_t address, void* into, uint32_t length)
    {
        if (length > MaxBuffer) {
            return complain("a buffer larger than 4096 bytes", address);
        }
        return uc_mem_read(uc, address, into, length) == UC_ERR_OK || complain("a buffer the DLL does not have", address);
    }

    bool writable(uint32_t address, uint32_t length)
    {
        return length <= MaxBuffer && (guestMayWrite(address, length) ||
                                       complain("an output buffer outside the DLL's data and stack", address));
    }

    void write(uint32_t address, const void* from, uint32_t length) { uc_mem_write(uc, address, from, length); }

    // A 32-bit value behind a pointer the function writes through.
    bool in32(uint32_t address, uint32_t* value)
    {
        return address == 0 || (writable(address, 4) && read(address, value, 4));
    }
    void out32(uint32_t address, uint32_t value)
    {
        if (address != 0) {
            write(address, &value, 4);
        }
    }

    bool ok() const { return problem[0] == '\0'; }
};

// Handles cross as 32-bit values, sign-extended on the host as 64-bit Windows
// does with a 32-bit process's handles.
template <typename T>
T handle(uint32_t value)
{
    return reinterpret_cast<T>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

template <typename T>
uint32_t guestHandle(Guest& guest, T value)
{
    const intptr_t wide = reinterpret_cast<intptr_t>(value);
    if (wide != static_cast<int32_t>(wide)) {
        guest.complain("the simulator gave a handle wider than 32 bits", 0);
    }
    return static_cast<uint32_t>(wide);
}

// Security attributes as the guest lays them out: three 32-bit fields.
bool security(Guest& guest, uint32_t address, SECURITY_ATTRIBUTES* attributes, LPSECURITY_ATTRIBUTES* result)
{
    *result = nullptr;
    uint32_t fields[3] = {};
    if (address == 0) {
        return true;
    }
    if (!guest.read(address, fields, sizeof fields)) {
        return false;
    }
    *attributes = SECURITY_ATTRIBUTES{fields[0], nullptr, static_cast<BOOL>(fields[2])};
    *result = attributes;
    return true;
}

uint32_t serveCreateFileA(uc_engine* uc, const uint32_t* a, char* problem, size_t size)
{
    Guest guest{uc, problem, size};
    char name[MaxText];
    const char* path = nullptr;
    SECURITY_ATTRIBUTES attributes;
    LPSECURITY_ATTRIBUTES attributesGiven = nullptr;
    if (!guest.text(a[0], name, &path) || !security(guest, a[3], &attributes, &attributesGiven)) {
        return 0;
    }
    return guestHandle(guest, CreateFileA(path, a[1], a[2], attributesGiven, a[4], a[5], handle<HANDLE>(a[6])));
}

uint32_t serveDeviceIoControl(uc_engine* uc, const uint32_t* a, char* problem, size_t size)
{
    Guest guest{uc, problem, size};
    static BYTE input[MaxBuffer];
    static BYTE output[MaxBuffer];
    uint32_t returned = 0;
    if ((a[2] != 0 && !guest.read(a[2], input, a[3])) ||
        (a[4] != 0 && (!guest.writable(a[4], a[5]) || !guest.read(a[4], output, a[5]))) || !guest.in32(a[6], &returned)) {
        return 0;
    }
    OVERLAPPED overlapped{};
    DWORD count = returned;
    const BOOL done = DeviceIoControl(handle<HANDLE>(a[0]), a[1], a[2] != 0 ? input : nullptr, a[3],
                                      a[4] != 0 ? output : nullptr, a[5], a[6] != 0 ? &count : nullptr,
                                      a[7] != 0 ? &overlapped : nullptr);
    if (a[4] != 0) {
        guest.write(a[4], output, a[5]);
    }
    guest.out32(a[6], count);
    return static_cast<uint32_t>(done);
}

uint32_t serveCloseHandle(uc_engine*, const uint32_t* a, char*, size_t)
{
    return static_cast<uint32_t>(CloseHandle(handle<HANDLE>(a[0])));
}

uint32_t serveRegCreateKeyExA(uc_engine* uc, const uint32_t* a, char* problem, size_t size)
{
    Guest guest{uc, problem, size};
    char subKey[MaxText], className[MaxText];
    const char* path = nullptr;
    const char* keyClass = nullptr;
    SECURITY_ATTRIBUTES attributes;
    LPSECURITY_ATTRIBUTES attributesGiven = nullptr;
    uint32_t key = 0, disposition = 0;
    if (!guest.text(a[1], subKey, &path) || !guest.text(a[3], className, &keyClass) ||
        !security(guest, a[6], &attributes, &attributesGiven) || !guest.in32(a[7], &key) ||
        !guest.in32(a[8], &disposition)) {
        return 0;
    }
    HKEY opened = handle<HKEY>(key);
    DWORD created = disposition;
    const LSTATUS status = RegCreateKeyExA(handle<HKEY>(a[0]), path, a[2], const_cast<LPSTR>(keyClass), a[4], a[5],
                                           attributesGiven, a[7] != 0 ? &opened : nullptr,
                                           a[8] != 0 ? &created : nullptr);
    guest.out32(a[7], guestHandle(guest, opened));
    guest.out32(a[8], created);
    return static_cast<uint32_t>(status);
}

uint32_t serveRegOpenKeyExA(uc_engine* uc, const uint32_t* a, char* problem, size_t size)
{
    Guest guest{uc, problem, size};
    char subKey[MaxText];
    const char* path = nullptr;
    uint32_t key = 0;
    if (!guest.text(a[1], subKey, &path) || !guest.in32(a[4], &key)) {
        return 0;
    }
    HKEY opened = handle<HKEY>(key);
    const LSTATUS status = RegOpenKeyExA(handle<HKEY>(a[0]), path, a[2], a[3], a[4] != 0 ? &opened : nullptr);
    guest.out32(a[4], guestHandle(guest, opened));
    return static_cast<uint32_t>(status);
}

uint32_t serveRegSetValueExA(uc_engine* uc, const uint32_t* a, char* problem, size_t size)
{
    Guest guest{uc, problem, size};
    char valueName[MaxText];
    const char* name = nullptr;
    static BYTE data[MaxBuffer];
    if (!guest.text(a[1], valueName, &name) || (a[4] != 0 && !guest.read(a[4], data, a[5]))) {
        return 0;
    }
    return static_cast<uint32_t>(
        RegSetValueExA(handle<HKEY>(a[0]), name, a[2], a[3], a[4] != 0 ? data : nullptr, a[5]));
}

uint32_t serveRegDeleteKeyA(uc_engine* uc, const uint32_t* a, char* problem, size_t size)
{
    Guest guest{uc, problem, size};
    char subKey[MaxText];
    const char* path = nullptr;
    if (!guest.text(a[1], subKey, &path)) {
        return 0;
    }
    return static_cast<uint32_t>(RegDeleteKeyA(handle<HKEY>(a[0]), path));
}

uint32_t serveRegCloseKey(uc_engine*, const uint32_t* a, char*, size_t)
{
    return static_cast<uint32_t>(RegCloseKey(handle<HKEY>(a[0])));
}

uint32_t serveMessageBoxA(uc_engine* uc, const uint32_t* a, char* problem, size_t size)
{
    Guest guest{uc, problem, size};
    char text[MaxText], caption[MaxText];
    const char* shownText = nullptr;
    const char* shownCaption = nullptr;
    if (!guest.text(a[1], text, &shownText) || !guest.text(a[2], caption, &shownCaption)) {
        return 0;
    }
    return static_cast<uint32_t>(MessageBoxA(handle<HWND>(a[0]), shownText, shownCaption, a[3]));
}

} // namespace

const Import Imports[ImportCount] = {
    {"kernel32.dll", "CreateFileA", 7, serveCreateFileA},
    {"kernel32.dll", "DeviceIoControl", 8, serveDeviceIoControl},
    {"kernel32.dll", "CloseHandle", 1, serveCloseHandle},
    {"advapi32.dll", "RegCreateKeyExA", 9, serveRegCreateKeyExA},
    {"advapi32.dll", "RegOpenKeyExA", 5, serveRegOpenKeyExA},
    {"advapi32.dll", "RegSetValueExA", 6, serveRegSetValueExA},
    {"advapi32.dll", "RegDeleteKeyA", 2, serveRegDeleteKeyA},
    {"advapi32.dll", "RegCloseKey", 1, serveRegCloseKey},
    {"user32.dll", "MessageBoxA", 4, serveMessageBoxA},
};

} // namespace Emulator
