// The DLL's nine imports, served by the simulated platform this program links
// (the same functions the library built for the host calls); the device's
// three may be bound to another device (loader.h).
#include "emulator/imports.h"

#include "emulator/loader.h"

#include <cstdio>
#include <cstring>

namespace Emulator {

namespace {

DeviceFunctions device = {CreateFileA, DeviceIoControl, CloseHandle};

constexpr size_t MaxText = 1024;
constexpr size_t MaxBuffer = 4096;

// One call's view of the guest: reads and writes that fail leave a problem,
// and the call is then not made.
struct Guest {
    Machine& machine;
    char* problem;
    size_t size;

    bool complain(const char* what, uint64_t address)
    {
        if (problem[0] == '\0') {
            std::snprintf(problem, size, "%s at 0x%0*llx", what, machine.bits / 4,
                          static_cast<unsigned long long>(address));
        }
        return false;
    }

    // A string argument; null stays null.
    bool text(uint64_t address, char (&into)[MaxText], const char** result)
    {
        *result = nullptr;
        if (address == 0) {
            return true;
        }
        for (size_t i = 0; i < MaxText; ++i) {
            if (!readGuest(machine, address + i, &into[i], 1)) {
                return complain("a string runs into memory the DLL does not have", address);
            }
            if (into[i] == '\0') {
                *result = into;
                return true;
            }
        }
        return complain("a string longer than 1024 bytes", address);
    }

    bool read(uint64_t address, void* into, uint64_t length)
    {
        if (length > MaxBuffer) {
            return complain("a buffer larger than 4096 bytes", address);
        }
        return readGuest(machine, address, into, length) || complain("a buffer the DLL does not have", address);
    }

    bool writable(uint64_t address, uint64_t length)
    {
        return length <= MaxBuffer && (guestMayWrite(address, length) ||
                                       complain("an output buffer outside the DLL's data and stack", address));
    }

    void write(uint64_t address, const void* from, uint64_t length) { writeGuest(machine, address, from, length); }

    // A value behind a pointer the function writes through: 32 bits, or a
    // pointer's width.
    bool in(uint64_t address, uint64_t* value, uint64_t width)
    {
        *value = 0;
        return address == 0 || (writable(address, width) && read(address, value, width));
    }
    void out(uint64_t address, uint64_t value, uint64_t width)
    {
        if (address != 0) {
            write(address, &value, width);
        }
    }
    uint64_t pointerWidth() const { return machine.bits == 64 ? 8 : 4; }
};

// A 32-bit process's handles are 32-bit values, sign-extended on the host as
// 64-bit Windows does with them; a 64-bit process's are the host's.
template <typename T>
T handle(const Guest& guest, uint64_t value)
{
    return reinterpret_cast<T>(guest.machine.bits == 64 ? static_cast<intptr_t>(value)
                                                        : static_cast<intptr_t>(static_cast<int32_t>(value)));
}

template <typename T>
uint64_t guestHandle(Guest& guest, T value)
{
    const intptr_t wide = reinterpret_cast<intptr_t>(value);
    if (guest.machine.bits == 64) {
        return static_cast<uint64_t>(wide);
    }
    if (wide != static_cast<int32_t>(wide)) {
        guest.complain("the simulator gave a handle wider than 32 bits", 0);
    }
    return static_cast<uint32_t>(wide);
}

// Security attributes as the guest lays them out: a length, a pointer and a
// flag, each field at its width's alignment.
bool security(Guest& guest, uint64_t address, SECURITY_ATTRIBUTES* attributes, LPSECURITY_ATTRIBUTES* result)
{
    *result = nullptr;
    uint32_t fields[6] = {};
    if (address == 0) {
        return true;
    }
    const bool wide = guest.machine.bits == 64;
    if (!guest.read(address, fields, wide ? 24 : 12)) {
        return false;
    }
    *attributes = SECURITY_ATTRIBUTES{fields[0], nullptr, static_cast<BOOL>(fields[wide ? 4 : 2])};
    *result = attributes;
    return true;
}

// The DLL's 32-bit arguments (lengths, flags, codes): the low half of what
// the caller passed.
DWORD dword(uint64_t value)
{
    return static_cast<DWORD>(value);
}

uint64_t serveCreateFileA(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    char name[MaxText];
    const char* path = nullptr;
    SECURITY_ATTRIBUTES attributes;
    LPSECURITY_ATTRIBUTES attributesGiven = nullptr;
    if (!guest.text(a[0], name, &path) || !security(guest, a[3], &attributes, &attributesGiven)) {
        return 0;
    }
    return guestHandle(guest, device.createFile(path, dword(a[1]), dword(a[2]), attributesGiven, dword(a[4]),
                                                dword(a[5]), handle<HANDLE>(guest, a[6])));
}

uint64_t serveDeviceIoControl(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    static BYTE input[MaxBuffer];
    static BYTE output[MaxBuffer];
    uint64_t returned = 0;
    const DWORD inLength = dword(a[3]), outLength = dword(a[5]);
    if ((a[2] != 0 && !guest.read(a[2], input, inLength)) ||
        (a[4] != 0 && (!guest.writable(a[4], outLength) || !guest.read(a[4], output, outLength))) ||
        !guest.in(a[6], &returned, 4)) {
        return 0;
    }
    OVERLAPPED overlapped{};
    DWORD count = static_cast<DWORD>(returned);
    const BOOL done = device.control(handle<HANDLE>(guest, a[0]), dword(a[1]), a[2] != 0 ? input : nullptr, inLength,
                                     a[4] != 0 ? output : nullptr, outLength, a[6] != 0 ? &count : nullptr,
                                     a[7] != 0 ? &overlapped : nullptr);
    if (a[4] != 0) {
        guest.write(a[4], output, outLength);
    }
    guest.out(a[6], count, 4);
    return static_cast<uint32_t>(done);
}

uint64_t serveCloseHandle(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    return static_cast<uint32_t>(device.close(handle<HANDLE>(guest, a[0])));
}

uint64_t serveRegCreateKeyExA(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    char subKey[MaxText], className[MaxText];
    const char* path = nullptr;
    const char* keyClass = nullptr;
    SECURITY_ATTRIBUTES attributes;
    LPSECURITY_ATTRIBUTES attributesGiven = nullptr;
    uint64_t key = 0, disposition = 0;
    if (!guest.text(a[1], subKey, &path) || !guest.text(a[3], className, &keyClass) ||
        !security(guest, a[6], &attributes, &attributesGiven) || !guest.in(a[7], &key, guest.pointerWidth()) ||
        !guest.in(a[8], &disposition, 4)) {
        return 0;
    }
    HKEY opened = handle<HKEY>(guest, key);
    DWORD created = static_cast<DWORD>(disposition);
    const LSTATUS status =
        RegCreateKeyExA(handle<HKEY>(guest, a[0]), path, dword(a[2]), const_cast<LPSTR>(keyClass), dword(a[4]),
                        dword(a[5]), attributesGiven, a[7] != 0 ? &opened : nullptr, a[8] != 0 ? &created : nullptr);
    guest.out(a[7], guestHandle(guest, opened), guest.pointerWidth());
    guest.out(a[8], created, 4);
    return static_cast<uint32_t>(status);
}

uint64_t serveRegOpenKeyExA(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    char subKey[MaxText];
    const char* path = nullptr;
    uint64_t key = 0;
    if (!guest.text(a[1], subKey, &path) || !guest.in(a[4], &key, guest.pointerWidth())) {
        return 0;
    }
    HKEY opened = handle<HKEY>(guest, key);
    const LSTATUS status = RegOpenKeyExA(handle<HKEY>(guest, a[0]), path, dword(a[2]), dword(a[3]),
                                         a[4] != 0 ? &opened : nullptr);
    guest.out(a[4], guestHandle(guest, opened), guest.pointerWidth());
    return static_cast<uint32_t>(status);
}

uint64_t serveRegSetValueExA(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    char valueName[MaxText];
    const char* name = nullptr;
    static BYTE data[MaxBuffer];
    if (!guest.text(a[1], valueName, &name) || (a[4] != 0 && !guest.read(a[4], data, dword(a[5])))) {
        return 0;
    }
    return static_cast<uint32_t>(RegSetValueExA(handle<HKEY>(guest, a[0]), name, dword(a[2]), dword(a[3]),
                                                a[4] != 0 ? data : nullptr, dword(a[5])));
}

uint64_t serveRegDeleteKeyA(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    char subKey[MaxText];
    const char* path = nullptr;
    if (!guest.text(a[1], subKey, &path)) {
        return 0;
    }
    return static_cast<uint32_t>(RegDeleteKeyA(handle<HKEY>(guest, a[0]), path));
}

uint64_t serveRegCloseKey(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    return static_cast<uint32_t>(RegCloseKey(handle<HKEY>(guest, a[0])));
}

uint64_t serveMessageBoxA(Machine& machine, const uint64_t* a, char* problem, size_t size)
{
    Guest guest{machine, problem, size};
    char text[MaxText], caption[MaxText];
    const char* shownText = nullptr;
    const char* shownCaption = nullptr;
    if (!guest.text(a[1], text, &shownText) || !guest.text(a[2], caption, &shownCaption)) {
        return 0;
    }
    return static_cast<uint32_t>(MessageBoxA(handle<HWND>(guest, a[0]), shownText, shownCaption, dword(a[3])));
}

} // namespace

const ImportFunction Imports[ImportCount] = {
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

void bindDevice(const DeviceFunctions* functions)
{
    device = functions != nullptr ? *functions : DeviceFunctions{CreateFileA, DeviceIoControl, CloseHandle};
}

} // namespace Emulator
