// The registry in the Windows test program: the DLL's registry calls reach
// the real registry through thin wrappers that inject the simulator's faults
// and count key handles; the registry half of control.h inspects and sets up
// the real registry directly (never through the wrappers, so it neither
// counts nor fails).
#include "tests/win32/harness.h"

#include "platform/sim/control.h"
#include "platform/sim/sim_api.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// The keys this library writes: every test starts without them.
constexpr const char* OwnTrees[] = {
    "SYSTEM\\CurrentControlSet\\Services\\ZQ4810",
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\ZQ4810",
};

// Key handles the DLL opened or created and has not closed, with the path
// each one names (relative to HKEY_LOCAL_MACHINE), so that a call relative to
// one of them can be matched against path faults.
struct OpenKey {
    HKEY key;
    std::string path;
};
std::vector<OpenKey> openKeys;

std::string pathOf(HKEY parent, LPCSTR subKey)
{
    std::string path;
    if (parent != HKEY_LOCAL_MACHINE) {
        for (const OpenKey& open : openKeys) {
            if (open.key == parent) {
                path = open.path;
            }
        }
    }
    if (subKey != nullptr && *subKey != '\0') {
        if (!path.empty()) {
            path += '\\';
        }
        path += subKey;
    }
    return path;
}

void remember(HKEY key, std::string path)
{
    openKeys.push_back(OpenKey{key, std::move(path)});
}

// Removes a key and everything below it, deepest first.
void deleteTree(HKEY parent, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return;
    }
    char name[256];
    for (;;) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        deleteTree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, path.c_str());
}

// Each wrapper records the call as the simulated registry does, so tests read
// the same call log on both platforms.
Sim::RegistryCall callOn(char operation, const std::string& path)
{
    Sim::RegistryCall call{};
    call.operation = operation;
    std::strncpy(call.path, path.c_str(), sizeof call.path - 1);
    return call;
}

LSTATUS finish(Sim::RegistryCall& call, LSTATUS result)
{
    call.result = result;
    SimRegistryFaults::record(call);
    return result;
}

} // namespace

extern "C" {

LSTATUS WINAPI WrapRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                   DWORD dwOptions, REGSAM samDesired,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                   LPDWORD lpdwDisposition)
{
    const std::string path = pathOf(hKey, lpSubKey);
    Sim::RegistryCall call = callOn('C', path);
    call.access = samDesired;
    call.options = dwOptions;
    call.classGiven = lpClass != nullptr;
    call.securityGiven = lpSecurityAttributes != nullptr;
    call.reserved = Reserved;
    if (SimRegistryFaults::create(path.c_str())) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    const LSTATUS status = RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                           lpSecurityAttributes, phkResult, lpdwDisposition);
    if (status == ERROR_SUCCESS) {
        remember(*phkResult, path);
    }
    return finish(call, status);
}

LSTATUS WINAPI WrapRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                 PHKEY phkResult)
{
    const std::string path = pathOf(hKey, lpSubKey);
    Sim::RegistryCall call = callOn('O', path);
    call.access = samDesired;
    call.options = ulOptions;
    if (SimRegistryFaults::open(path.c_str())) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    const LSTATUS status = RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (status == ERROR_SUCCESS) {
        remember(*phkResult, path);
    }
    return finish(call, status);
}

LSTATUS WINAPI WrapRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                  const BYTE* lpData, DWORD cbData)
{
    Sim::RegistryCall call = callOn('S', pathOf(hKey, nullptr));
    std::strncpy(call.valueName, lpValueName != nullptr ? lpValueName : "", sizeof call.valueName - 1);
    call.reserved = Reserved;
    call.type = dwType;
    call.size = cbData;
    if (SimRegistryFaults::set(lpValueName != nullptr ? lpValueName : "")) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    return finish(call, RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData));
}

LSTATUS WINAPI WrapRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    const std::string path = pathOf(hKey, lpSubKey);
    Sim::RegistryCall call = callOn('D', path);
    if (SimRegistryFaults::remove(path.c_str())) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    return finish(call, RegDeleteKeyA(hKey, lpSubKey));
}

LSTATUS WINAPI WrapRegCloseKey(HKEY hKey)
{
    Sim::RegistryCall call = callOn('X', hKey == HKEY_LOCAL_MACHINE ? std::string() : pathOf(hKey, nullptr));
    const LSTATUS status = RegCloseKey(hKey);
    if (status == ERROR_SUCCESS) {
        for (auto open = openKeys.begin(); open != openKeys.end(); ++open) {
            if (open->key == hKey) {
                openKeys.erase(open);
                break;
            }
        }
    }
    return finish(call, status);
}

} // extern "C"

namespace SimRegistry {

void reset()
{
    for (const OpenKey& open : openKeys) {
        RegCloseKey(open.key);
    }
    openKeys.clear();
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
    if (found) {
        std::vector<BYTE> bytes(length + 1);
        DWORD read = length;
        found = RegQueryValueExA(key, name, nullptr, &valueType, bytes.data(), &read) == ERROR_SUCCESS;
        if (found) {
            if (type != nullptr) {
                *type = valueType;
            }
            if (size != nullptr) {
                if (data != nullptr) {
                    std::memcpy(data, bytes.data(), read < *size ? read : *size);
                }
                *size = read;
            }
        }
    }
    RegCloseKey(key);
    return found;
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
    static char name[256];
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
    return static_cast<int>(openKeys.size());
}

} // namespace Sim
