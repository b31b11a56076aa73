// The registry's store in the Windows test program: the DLL's registry calls
// reach Windows' own registry (Wine's, in practice) through thin stand-ins
// that inject the simulator's faults, log the calls and count key handles;
// the registry half of control.h inspects and sets up the real registry
// directly (never through the stand-ins, so it neither counts nor fails).
// Beside the in-memory store, it holds the simulated one to the real thing:
// the same tests pass on both.
#include "platform/sim/control.h"

#include "zq4810/registry_paths.h"
#include "platform/sim/internal.h"
#include "platform/sim/text.h"

#include <algorithm>
#include <iterator>

namespace {

// The keys this library writes: every test starts without them.
constexpr const char* OwnTrees[] = {
    RegistryPaths::ServiceKey,
    RegistryPaths::EventSourceKey,
};

constexpr int MaxOpenKeys = 32;
constexpr int PathSize = sizeof(Sim::RegistryCall::path);
constexpr int NameSize = 256; // a key name: up to 255 characters

// Key handles the DLL opened or created and has not closed, with the path
// each one names (relative to HKEY_LOCAL_MACHINE), so that a call relative to
// one of them can be matched against path faults.
struct OpenKey {
    bool used;
    HKEY key;
    char path[PathSize];
};
OpenKey openKeys[MaxOpenKeys];

OpenKey* openKeyOf(HKEY key)
{
    for (OpenKey& open : openKeys) {
        if (open.used && open.key == key) {
            return &open;
        }
    }
    return nullptr;
}

// The path below HKEY_LOCAL_MACHINE that a call names: the handle's key, then
// the sub-path, cut short at the size of a logged path.
void pathOf(HKEY parent, LPCSTR subKey, char* out)
{
    const OpenKey* open = parent != HKEY_LOCAL_MACHINE ? openKeyOf(parent) : nullptr;
    SimText::copy(out, PathSize, open != nullptr ? open->path : "");
    if (subKey != nullptr && *subKey != '\0') {
        int at = SimText::length(out);
        if (at > 0 && at < PathSize - 1) {
            out[at++] = '\\';
        }
        SimText::copy(out + at, PathSize - at, subKey);
    }
}

void remember(HKEY key, const char* path)
{
    for (OpenKey& open : openKeys) {
        if (!open.used) {
            open.used = true;
            open.key = key;
            SimText::copy(open.path, PathSize, path);
            return;
        }
    }
}

// Removes a key and everything below it, deepest first.
void deleteTree(HKEY parent, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return;
    }
    char name[NameSize];
    for (;;) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        deleteTree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, path);
}

// Inspection reads a value through here; a larger one is reported by its
// size alone.
BYTE valueBytes[4096];

} // namespace

extern "C" LSTATUS WINAPI SimRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                             DWORD dwOptions, REGSAM samDesired,
                                             LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                             LPDWORD lpdwDisposition)
{
    Sim::RegistryCall call =
        SimRegistryFaults::createCall(Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes);
    pathOf(hKey, lpSubKey, call.path);
    if (SimRegistryFaults::create(call.path)) {
        return SimRegistryFaults::finish(call, ERROR_ACCESS_DENIED);
    }
    const LSTATUS status = RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                           lpSecurityAttributes, phkResult, lpdwDisposition);
    if (status == ERROR_SUCCESS) {
        remember(*phkResult, call.path);
    }
    return SimRegistryFaults::finish(call, status);
}

extern "C" LSTATUS WINAPI SimRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                           PHKEY phkResult)
{
    Sim::RegistryCall call = SimRegistryFaults::callOn('O');
    pathOf(hKey, lpSubKey, call.path);
    call.access = samDesired;
    call.options = ulOptions;
    if (SimRegistryFaults::open(call.path)) {
        return SimRegistryFaults::finish(call, ERROR_ACCESS_DENIED);
    }
    const LSTATUS status = RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (status == ERROR_SUCCESS) {
        remember(*phkResult, call.path);
    }
    return SimRegistryFaults::finish(call, status);
}

extern "C" LSTATUS WINAPI SimRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                            const BYTE* lpData, DWORD cbData)
{
    Sim::RegistryCall call = SimRegistryFaults::callOn('S');
    pathOf(hKey, nullptr, call.path);
    SimText::copy(call.valueName, sizeof call.valueName, lpValueName);
    call.reserved = Reserved;
    call.type = dwType;
    call.size = cbData;
    if (SimRegistryFaults::set(lpValueName != nullptr ? lpValueName : "")) {
        return SimRegistryFaults::finish(call, ERROR_ACCESS_DENIED);
    }
    return SimRegistryFaults::finish(call, RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData));
}

extern "C" LSTATUS WINAPI SimRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    Sim::RegistryCall call = SimRegistryFaults::callOn('D');
    pathOf(hKey, lpSubKey, call.path);
    if (SimRegistryFaults::remove(call.path)) {
        return SimRegistryFaults::finish(call, ERROR_ACCESS_DENIED);
    }
    return SimRegistryFaults::finish(call, RegDeleteKeyA(hKey, lpSubKey));
}

extern "C" LSTATUS WINAPI SimRegCloseKey(HKEY hKey)
{
    Sim::RegistryCall call = SimRegistryFaults::callOn('X');
    if (hKey != HKEY_LOCAL_MACHINE) {
        pathOf(hKey, nullptr, call.path);
    }
    const LSTATUS status = RegCloseKey(hKey);
    OpenKey* open = openKeyOf(hKey);
    if (status == ERROR_SUCCESS && open != nullptr) {
        open->used = false;
    }
    return SimRegistryFaults::finish(call, status);
}

namespace SimRegistry {

void reset()
{
    for (OpenKey& open : openKeys) {
        if (open.used) {
            RegCloseKey(open.key);
            open.used = false;
        }
    }
    for (const char* tree : OwnTrees) {
        deleteTree(HKEY_LOCAL_MACHINE, tree);
    }
}

} // namespace SimRegistry

namespace Sim {

bool registryKeyExists(const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool registryValue(const char* path, const char* name, uint32_t* type, uint8_t* data, uint32_t* size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD valueType = 0;
    DWORD length = 0;
    bool found = RegQueryValueExA(key, name, nullptr, &valueType, nullptr, &length) == ERROR_SUCCESS;
    DWORD read = 0;
    if (found && length <= sizeof valueBytes) {
        read = length;
        found = RegQueryValueExA(key, name, nullptr, &valueType, valueBytes, &read) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (!found) {
        return false;
    }
    if (type != nullptr) {
        *type = valueType;
    }
    if (size != nullptr) {
        for (uint32_t i = 0; data != nullptr && i < *size && i < read; ++i) {
            data[i] = valueBytes[i];
        }
        *size = length;
    }
    return true;
}

int registrySubkeyCount(const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD count = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    return static_cast<int>(count);
}

const char* registrySubkeyName(const char* path, int index)
{
    static char name[NameSize];
    name[0] = '\0';
    HKEY key;
    if (index < 0 || RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return name;
    }
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, static_cast<DWORD>(index), name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        name[0] = '\0';
    }
    RegCloseKey(key);
    return name;
}

void registryCreateKey(const char* path)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

void registrySetValue(const char* path, const char* name, uint32_t type, const void* data, uint32_t size)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
}

int openRegistryKeys()
{
    const auto isOpen = [](const OpenKey& k) { return k.used; };
    return static_cast<int>(std::count_if(std::begin(openKeys), std::end(openKeys), isOpen));
}

} // namespace Sim
