// The DLL's imports, served by the simulated platform this program links
// (the same functions the library built for the host calls): each takes the
// guest's arguments, copies strings and buffers between the guest's memory
// and the host's, calls the function of the same name here, and hands back
// what it returned. Both widths: the guest's pointers, handles and
// structures are 32 or 64 bits wide as its machine is. The device's three
// may be bound to another device (loader.h).
#include "emulator/imports.h"

#include "emulator/loader.h"

#include <cstdio>

namespace Emulator {
namespace {

DeviceFunctions device = {CreateFileA, DeviceIoControl, CloseHandle};

constexpr size_t MaxText = 1024;
constexpr size_t MaxBuffer = 4096;

// One call's view of the guest: a read or write that the DLL may not ask
// for breaches, and the call is then not made.
struct Guest {
    Machine& machine = process().machine;

    bool complain(Rule rule, const char* what, uint64_t address)
    {
        const System& system = process();
        breach(machine, rule, "%s called from 0x%0*llx: %s at 0x%0*llx", system.current->name, machine.bits / 4,
               static_cast<unsigned long long>(system.caller), what, machine.bits / 4,
               static_cast<unsigned long long>(address));
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
                return complain(Rule::SystemArgument, "a string runs into memory the DLL does not have", address);
            }
            if (into[i] == '\0') {
                *result = into;
                return true;
            }
        }
        return complain(Rule::Unsupported, "a string longer than 1024 bytes", address);
    }

    bool read(uint64_t address, void* into, uint64_t length)
    {
        if (length > MaxBuffer) {
            return complain(Rule::Unsupported, "a buffer larger than 4096 bytes", address);
        }
        return readGuest(machine, address, into, length) ||
               complain(Rule::SystemArgument, "a buffer the DLL does not have", address);
    }

    bool writable(uint64_t address, uint64_t length)
    {
        return length <= MaxBuffer &&
               (guestMayWrite(address, length) ||
                complain(Rule::SystemArgument, "an output buffer outside the DLL's data and stack", address));
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
    uint64_t pointerWidth() const { return machine.width->pointer; }

    // A 32-bit process's handles are 32-bit values, sign-extended on the
    // host as 64-bit Windows does with them; a 64-bit process's are the
    // host's.
    template <typename T>
    T handle(uint64_t value) const
    {
        const uint64_t sign = uint64_t{1} << (8 * pointerWidth() - 1);
        return reinterpret_cast<T>(static_cast<intptr_t>(((value & machine.width->mask) ^ sign) - sign));
    }

    template <typename T>
    uint64_t guestHandle(T value)
    {
        const uint64_t wide = static_cast<uint64_t>(reinterpret_cast<intptr_t>(value));
        if (handle<T>(wide & machine.width->mask) != value) {
            complain(Rule::Unsupported, "the simulator gave a handle wider than the process's", 0);
        }
        return wide & machine.width->mask;
    }

    // Security attributes as the guest lays them out: a length, a pointer
    // and a flag, each field at its width's alignment.
    bool security(uint64_t address, SECURITY_ATTRIBUTES* attributes, LPSECURITY_ATTRIBUTES* result)
    {
        *result = nullptr;
        uint32_t fields[6] = {};
        if (address == 0) {
            return true;
        }
        const uint64_t pointer = pointerWidth();
        if (!read(address, fields, 3 * pointer)) {
            return false;
        }
        *attributes = SECURITY_ATTRIBUTES{fields[0], nullptr, static_cast<BOOL>(fields[2 * pointer / 4])};
        *result = attributes;
        return true;
    }
};

// The DLL's 32-bit arguments (lengths, flags, codes): the low half of what
// the caller passed.
DWORD dword(uint64_t value) { return static_cast<DWORD>(value); }

struct CreateFileArguments {
    uint64_t name, access, share, security, disposition, flags, templateFile;
};

uint64_t serveCreateFileA(const CreateFileArguments& a)
{
    Guest guest;
    char name[MaxText];
    const char* path = nullptr;
    SECURITY_ATTRIBUTES attributes;
    LPSECURITY_ATTRIBUTES attributesGiven = nullptr;
    if (!guest.text(a.name, name, &path) || !guest.security(a.security, &attributes, &attributesGiven)) {
        return 0;
    }
    return guest.guestHandle(device.createFile(path, dword(a.access), dword(a.share), attributesGiven,
                                               dword(a.disposition), dword(a.flags),
                                               guest.handle<HANDLE>(a.templateFile)));
}

struct DeviceIoControlArguments {
    uint64_t device, code, in, inLength, out, outLength, returned, overlapped;
};

uint64_t serveDeviceIoControl(const DeviceIoControlArguments& a)
{
    Guest guest;
    static BYTE input[MaxBuffer];
    static BYTE output[MaxBuffer];
    uint64_t returned = 0;
    const DWORD inLength = dword(a.inLength), outLength = dword(a.outLength);
    if ((a.in != 0 && !guest.read(a.in, input, inLength)) ||
        (a.out != 0 && (!guest.writable(a.out, outLength) || !guest.read(a.out, output, outLength))) ||
        !guest.in(a.returned, &returned, 4)) {
        return 0;
    }
    OVERLAPPED overlapped{};
    DWORD count = static_cast<DWORD>(returned);
    const BOOL done = device.control(guest.handle<HANDLE>(a.device), dword(a.code), a.in != 0 ? input : nullptr,
                                     inLength, a.out != 0 ? output : nullptr, outLength,
                                     a.returned != 0 ? &count : nullptr, a.overlapped != 0 ? &overlapped : nullptr);
    if (a.out != 0) {
        guest.write(a.out, output, outLength);
    }
    guest.out(a.returned, count, 4);
    return static_cast<uint32_t>(done);
}

struct CloseHandleArguments {
    uint64_t handle;
};

uint64_t serveCloseHandle(const CloseHandleArguments& a)
{
    return static_cast<uint32_t>(device.close(Guest().handle<HANDLE>(a.handle)));
}

struct RegCreateKeyArguments {
    uint64_t key, subKey, reserved, keyClass, options, access, security, result, disposition;
};

uint64_t serveRegCreateKeyExA(const RegCreateKeyArguments& a)
{
    Guest guest;
    char subKey[MaxText], className[MaxText];
    const char* path = nullptr;
    const char* keyClass = nullptr;
    SECURITY_ATTRIBUTES attributes;
    LPSECURITY_ATTRIBUTES attributesGiven = nullptr;
    uint64_t key = 0, disposition = 0;
    if (!guest.text(a.subKey, subKey, &path) || !guest.text(a.keyClass, className, &keyClass) ||
        !guest.security(a.security, &attributes, &attributesGiven) ||
        !guest.in(a.result, &key, guest.pointerWidth()) || !guest.in(a.disposition, &disposition, 4)) {
        return 0;
    }
    HKEY opened = guest.handle<HKEY>(key);
    DWORD created = static_cast<DWORD>(disposition);
    const LSTATUS status = RegCreateKeyExA(guest.handle<HKEY>(a.key), path, dword(a.reserved),
                                           const_cast<LPSTR>(keyClass), dword(a.options), dword(a.access),
                                           attributesGiven, a.result != 0 ? &opened : nullptr,
                                           a.disposition != 0 ? &created : nullptr);
    guest.out(a.result, guest.guestHandle(opened), guest.pointerWidth());
    guest.out(a.disposition, created, 4);
    return static_cast<uint32_t>(status);
}

struct RegOpenKeyArguments {
    uint64_t key, subKey, options, access, result;
};

uint64_t serveRegOpenKeyExA(const RegOpenKeyArguments& a)
{
    Guest guest;
    char subKey[MaxText];
    const char* path = nullptr;
    uint64_t key = 0;
    if (!guest.text(a.subKey, subKey, &path) || !guest.in(a.result, &key, guest.pointerWidth())) {
        return 0;
    }
    HKEY opened = guest.handle<HKEY>(key);
    const LSTATUS status = RegOpenKeyExA(guest.handle<HKEY>(a.key), path, dword(a.options), dword(a.access),
                                         a.result != 0 ? &opened : nullptr);
    guest.out(a.result, guest.guestHandle(opened), guest.pointerWidth());
    return static_cast<uint32_t>(status);
}

struct RegSetValueArguments {
    uint64_t key, valueName, reserved, type, data, size;
};

uint64_t serveRegSetValueExA(const RegSetValueArguments& a)
{
    Guest guest;
    char valueName[MaxText];
    const char* name = nullptr;
    static BYTE data[MaxBuffer];
    if (!guest.text(a.valueName, valueName, &name) || (a.data != 0 && !guest.read(a.data, data, dword(a.size)))) {
        return 0;
    }
    return static_cast<uint32_t>(RegSetValueExA(guest.handle<HKEY>(a.key), name, dword(a.reserved), dword(a.type),
                                                a.data != 0 ? data : nullptr, dword(a.size)));
}

struct RegDeleteKeyArguments {
    uint64_t key, subKey;
};

uint64_t serveRegDeleteKeyA(const RegDeleteKeyArguments& a)
{
    Guest guest;
    char subKey[MaxText];
    const char* path = nullptr;
    if (!guest.text(a.subKey, subKey, &path)) {
        return 0;
    }
    return static_cast<uint32_t>(RegDeleteKeyA(guest.handle<HKEY>(a.key), path));
}

struct RegCloseKeyArguments {
    uint64_t key;
};

uint64_t serveRegCloseKey(const RegCloseKeyArguments& a)
{
    return static_cast<uint32_t>(RegCloseKey(Guest().handle<HKEY>(a.key)));
}

struct MessageBoxArguments {
    uint64_t window, text, caption, type;
};

uint64_t serveMessageBoxA(const MessageBoxArguments& a)
{
    Guest guest;
    char text[MaxText], caption[MaxText];
    const char* shownText = nullptr;
    const char* shownCaption = nullptr;
    if (!guest.text(a.text, text, &shownText) || !guest.text(a.caption, caption, &shownCaption)) {
        return 0;
    }
    return static_cast<uint32_t>(
        MessageBoxA(guest.handle<HWND>(a.window), shownText, shownCaption, dword(a.type)));
}

constexpr const char* Kernel32 = "kernel32.dll";
constexpr const char* Advapi32 = "advapi32.dll";

constexpr SystemFunction Rows[] = {
    function<CreateFileArguments, serveCreateFileA>(Kernel32, "CreateFileA"),
    function<DeviceIoControlArguments, serveDeviceIoControl>(Kernel32, "DeviceIoControl"),
    function<CloseHandleArguments, serveCloseHandle>(Kernel32, "CloseHandle"),
    function<RegCreateKeyArguments, serveRegCreateKeyExA>(Advapi32, "RegCreateKeyExA"),
    function<RegOpenKeyArguments, serveRegOpenKeyExA>(Advapi32, "RegOpenKeyExA"),
    function<RegSetValueArguments, serveRegSetValueExA>(Advapi32, "RegSetValueExA"),
    function<RegDeleteKeyArguments, serveRegDeleteKeyA>(Advapi32, "RegDeleteKeyA"),
    function<RegCloseKeyArguments, serveRegCloseKey>(Advapi32, "RegCloseKey"),
    function<MessageBoxArguments, serveMessageBoxA>("user32.dll", "MessageBoxA"),
};

} // namespace

const FunctionTable Imports = tableOf(Rows);

void bindDevice(const DeviceFunctions* functions)
{
    device = functions != nullptr ? *functions : DeviceFunctions{CreateFileA, DeviceIoControl, CloseHandle};
}

} // namespace Emulator
