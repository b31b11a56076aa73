// The simulated registry: an in-memory tree under HKEY_LOCAL_MACHINE with
// Windows' own semantics, in fixed-size tables.
//
// - Creating a key creates its missing parents and tells whether the key was
//   created now or already existed; opening a missing key fails with
//   ERROR_FILE_NOT_FOUND.
// - Key names compare without regard to case; a trailing backslash is
//   accepted. A value keeps its type and its exact bytes.
// - Deleting refuses a key that has subkeys (ERROR_ACCESS_DENIED) or does not
//   exist (ERROR_FILE_NOT_FOUND). A handle open on a deleted key stays open,
//   but writes through it fail with ERROR_KEY_DELETED.
// - Closing a handle that is not open fails. Open handles are counted.
#include "zq4810/registry_paths.h"
#include "platform/sim/internal.h"
#include "platform/sim/text.h"

#include <algorithm>
#include <iterator>
#include <stdint.h>

namespace {

constexpr int MaxKeys = 64;
constexpr int MaxValues = 64;
constexpr int MaxHandles = 32;
constexpr int NameSize = 256;      // a key name: up to 255 characters, as on Windows
constexpr int ValueNameSize = 40;
constexpr int MaxData = 256;
constexpr int Root = 0;            // HKEY_LOCAL_MACHINE itself
constexpr int Deleted = -1;        // a handle whose key was deleted
constexpr uintptr_t FirstHandle = 0x2000;
constexpr LONG ErrorKeyDeleted = 1018;
constexpr LONG ErrorBadPathname = 161;
constexpr LONG ErrorOutOfMemory = 14;
constexpr LONG ErrorNoAccess = 998;

struct Key {
    bool used;
    int parent;
    char name[NameSize];
};

struct Value {
    bool used;
    int key;
    char name[ValueNameSize];
    DWORD type;
    BYTE data[MaxData];
    DWORD size;
};

struct KeyHandle {
    bool open;
    int key;
};

Key keys[MaxKeys];
Value values[MaxValues];
KeyHandle handles[MaxHandles];
bool populated;

int findChild(int parent, const char* name, int nameLength)
{
    for (int i = 1; i < MaxKeys; ++i) {
        if (keys[i].used && keys[i].parent == parent && SimText::sameNoCase(name, nameLength, keys[i].name)) {
            return i;
        }
    }
    return -1;
}

int addChild(int parent, const char* name, int nameLength)
{
    for (int i = 1; i < MaxKeys; ++i) {
        if (!keys[i].used) {
            keys[i].used = true;
            keys[i].parent = parent;
            for (int c = 0; c < nameLength; ++c) {
                keys[i].name[c] = name[c];
            }
            keys[i].name[nameLength] = '\0';
            return i;
        }
    }
    return -1;
}

struct Walk {
    LONG status;
    int key;
    bool created;
};

// Follows path below start, segment by segment. With create, missing keys are
// added; the result says whether the last one was. An empty path names start.
Walk walk(int start, const char* path, bool create)
{
    Walk result{ERROR_SUCCESS, start, false};
    if (path == nullptr) {
        return result;
    }
    const char* at = path;
    while (*at != '\0') {
        int n = 0;
        while (at[n] != '\0' && at[n] != '\\') {
            ++n;
        }
        if (n == 0) {
            // A leading backslash is refused; a doubled one counts as one.
            if (at == path) {
                result.status = ErrorBadPathname;
                return result;
            }
            ++at;
            continue;
        }
        if (n >= NameSize) {
            result.status = ERROR_INVALID_PARAMETER;
            return result;
        }
        int child = findChild(result.key, at, n);
        result.created = false;
        if (child < 0) {
            if (!create) {
                result.status = ERROR_FILE_NOT_FOUND;
                return result;
            }
            child = addChild(result.key, at, n);
            if (child < 0) {
                result.status = ErrorOutOfMemory;
                return result;
            }
            result.created = true;
        }
        result.key = child;
        at += n;
        if (*at == '\\') {
            ++at;
        }
    }
    return result;
}

void ensurePopulated();

// The open handle an HKEY names, or null.
KeyHandle* openSlot(HKEY hKey)
{
    const uintptr_t value = reinterpret_cast<uintptr_t>(hKey);
    if (value < FirstHandle || (value - FirstHandle) % 4 != 0 || (value - FirstHandle) / 4 >= MaxHandles) {
        return nullptr;
    }
    KeyHandle& handle = handles[(value - FirstHandle) / 4];
    return handle.open ? &handle : nullptr;
}

// The key a handle names: HKEY_LOCAL_MACHINE or an open handle's key.
// -2 when the handle is not valid, Deleted when its key was deleted.
int keyOf(HKEY hKey)
{
    ensurePopulated();
    if (hKey == HKEY_LOCAL_MACHINE) {
        return Root;
    }
    const KeyHandle* handle = openSlot(hKey);
    return handle != nullptr ? handle->key : -2;
}

HKEY openHandle(int key)
{
    for (int i = 0; i < MaxHandles; ++i) {
        if (!handles[i].open) {
            handles[i] = KeyHandle{true, key};
            return reinterpret_cast<HKEY>(FirstHandle + 4u * static_cast<uintptr_t>(i));
        }
    }
    return nullptr;
}

// The path of a key relative to HKEY_LOCAL_MACHINE.
void pathOf(int key, char* out, int size)
{
    int chain[MaxKeys];
    int depth = 0;
    for (int k = key; k > Root && depth < MaxKeys; k = keys[k].parent) {
        chain[depth++] = k;
    }
    int at = 0;
    out[0] = '\0';
    while (depth > 0) {
        const char* name = keys[chain[--depth]].name;
        if (at > 0 && at < size - 1) {
            out[at++] = '\\';
        }
        for (int c = 0; name[c] != '\0' && at < size - 1; ++c) {
            out[at++] = name[c];
        }
        out[at] = '\0';
    }
}

// The path below HKEY_LOCAL_MACHINE that a call names: the handle's key, then
// the sub-path. Faults are set by such paths.
void fullPath(int key, const char* subKey, char* out, int size)
{
    if (key < Root) {
        SimText::copy(out, size, subKey);
        return;
    }
    pathOf(key, out, size);
    if (subKey == nullptr || *subKey == '\0') {
        return;
    }
    int at = SimText::length(out);
    if (at > 0 && at < size - 1) {
        out[at++] = '\\';
    }
    SimText::copy(out + at, size - at, subKey);
}

// Whether name a comes before name b in the registry's order: by their
// characters in upper case.
bool sortsBefore(const char* a, const char* b)
{
    int i = 0;
    while (a[i] != '\0' && SimText::upper(a[i]) == SimText::upper(b[i])) {
        ++i;
    }
    return static_cast<unsigned char>(SimText::upper(a[i])) < static_cast<unsigned char>(SimText::upper(b[i]));
}

bool hasChildren(int key)
{
    for (int i = 1; i < MaxKeys; ++i) {
        if (keys[i].used && keys[i].parent == key) {
            return true;
        }
    }
    return false;
}

void removeKey(int key)
{
    keys[key].used = false;
    for (Value& value : values) {
        if (value.used && value.key == key) {
            value.used = false;
        }
    }
    for (KeyHandle& handle : handles) {
        if (handle.open && handle.key == key) {
            handle.key = Deleted;
        }
    }
}

Value* findValue(int key, const char* name)
{
    const char* wanted = name != nullptr ? name : "";
    for (Value& value : values) {
        if (value.used && value.key == key && SimText::sameNoCase(wanted, value.name)) {
            return &value;
        }
    }
    return nullptr;
}

LONG storeValue(int key, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    const char* wanted = name != nullptr ? name : "";
    if (SimText::length(wanted) >= ValueNameSize || size > MaxData) {
        return ErrorOutOfMemory;
    }
    Value* value = findValue(key, wanted);
    for (int i = 0; value == nullptr && i < MaxValues; ++i) {
        if (!values[i].used) {
            value = &values[i];
            value->used = true;
            value->key = key;
            SimText::copy(value->name, ValueNameSize, wanted);
        }
    }
    if (value == nullptr) {
        return ErrorOutOfMemory;
    }
    value->type = type;
    value->size = size;
    for (DWORD i = 0; i < size; ++i) {
        value->data[i] = data[i];
    }
    return ERROR_SUCCESS;
}

void clearAll()
{
    for (Key& key : keys) {
        key.used = false;
    }
    for (Value& value : values) {
        value.used = false;
    }
    for (KeyHandle& handle : handles) {
        handle.open = false;
    }
    keys[Root].used = true;
    keys[Root].parent = -1;
    keys[Root].name[0] = '\0';
    // What every machine has before any driver is registered.
    walk(Root, RegistryPaths::EventLogSystemKey, true);
    populated = true;
}

void ensurePopulated()
{
    if (!populated) {
        clearAll();
    }
}

Sim::RegistryCall callOn(char operation, int key, const char* subKey)
{
    Sim::RegistryCall call = SimRegistryFaults::callOn(operation);
    fullPath(key, subKey, call.path, sizeof call.path);
    return call;
}

// What create and open share: the start key checked, the path walked (made
// where it is missing, for create), a handle to the key handed out.
LSTATUS handOut(int start, LPCSTR subKey, bool create, bool argumentsValid, PHKEY result, bool* created)
{
    if (start < Root || result == nullptr || !argumentsValid) {
        return start == Deleted ? ErrorKeyDeleted : start < Root ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
    }
    const Walk found = walk(start, subKey, create);
    if (found.status != ERROR_SUCCESS) {
        return found.status;
    }
    HKEY handle = openHandle(found.key);
    if (handle == nullptr) {
        return ErrorOutOfMemory;
    }
    *result = handle;
    *created = found.created;
    return ERROR_SUCCESS;
}

} // namespace

using SimRegistryFaults::finish;

extern "C" LSTATUS WINAPI SimRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                             DWORD dwOptions, REGSAM samDesired,
                                             LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                             LPDWORD lpdwDisposition)
{
    const int start = keyOf(hKey);
    Sim::RegistryCall call =
        SimRegistryFaults::createCall(Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes);
    fullPath(start, lpSubKey, call.path, sizeof call.path);
    if (SimRegistryFaults::create(call.path)) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    bool created = false;
    const LSTATUS status = handOut(start, lpSubKey, true, Reserved == 0, phkResult, &created);
    if (status == ERROR_SUCCESS && lpdwDisposition != nullptr) {
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return finish(call, status);
}

extern "C" LSTATUS WINAPI SimRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                           PHKEY phkResult)
{
    const int start = keyOf(hKey);
    Sim::RegistryCall call = callOn('O', start, lpSubKey);
    call.access = samDesired;
    call.options = ulOptions;
    if (SimRegistryFaults::open(call.path)) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    bool created = false;
    return finish(call, handOut(start, lpSubKey, false, true, phkResult, &created));
}

extern "C" LSTATUS WINAPI SimRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                            const BYTE* lpData, DWORD cbData)
{
    const int key = keyOf(hKey);
    Sim::RegistryCall call = callOn('S', key, nullptr);
    SimText::copy(call.valueName, sizeof call.valueName, lpValueName);
    call.reserved = Reserved;
    call.type = dwType;
    call.size = cbData;
    if (SimRegistryFaults::set(lpValueName)) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    if (key < Root) {
        return finish(call, key == Deleted ? ErrorKeyDeleted : ERROR_INVALID_HANDLE);
    }
    if (Reserved != 0) {
        return finish(call, ERROR_INVALID_PARAMETER);
    }
    if (lpData == nullptr && cbData != 0) {
        // Windows reports the unreadable buffer as such.
        return finish(call, ErrorNoAccess);
    }
    return finish(call, storeValue(key, lpValueName, dwType, lpData, cbData));
}

extern "C" LSTATUS WINAPI SimRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    const int start = keyOf(hKey);
    Sim::RegistryCall call = callOn('D', start, lpSubKey);
    if (SimRegistryFaults::remove(call.path)) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    if (start < Root) {
        return finish(call, start == Deleted ? ErrorKeyDeleted : ERROR_INVALID_HANDLE);
    }
    if (lpSubKey == nullptr) {
        return finish(call, ERROR_INVALID_PARAMETER);
    }
    // An empty name deletes the key the handle is open on, as Windows does;
    // HKEY_LOCAL_MACHINE itself cannot go.
    if (*lpSubKey == '\0' && start == Root) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    const Walk found = walk(start, lpSubKey, false);
    if (found.status != ERROR_SUCCESS) {
        return finish(call, found.status);
    }
    if (hasChildren(found.key)) {
        return finish(call, ERROR_ACCESS_DENIED);
    }
    removeKey(found.key);
    return finish(call, ERROR_SUCCESS);
}

extern "C" LSTATUS WINAPI SimRegCloseKey(HKEY hKey)
{
    ensurePopulated();
    Sim::RegistryCall call = SimRegistryFaults::callOn('X');
    if (hKey == HKEY_LOCAL_MACHINE) {
        // Closing a predefined key is allowed and changes nothing.
        return finish(call, ERROR_SUCCESS);
    }
    KeyHandle* handle = openSlot(hKey);
    if (handle == nullptr) {
        return finish(call, ERROR_INVALID_HANDLE);
    }
    if (handle->key >= Root) {
        pathOf(handle->key, call.path, sizeof call.path);
    }
    handle->open = false;
    return finish(call, ERROR_SUCCESS);
}

namespace SimRegistry {

void reset()
{
    clearAll();
}

} // namespace SimRegistry

namespace Sim {

bool registryKeyExists(const char* path)
{
    ensurePopulated();
    return walk(Root, path, false).status == ERROR_SUCCESS;
}

bool registryValue(const char* path, const char* name, uint32_t* type, uint8_t* data, uint32_t* size)
{
    ensurePopulated();
    const Walk found = walk(Root, path, false);
    const Value* value = found.status == ERROR_SUCCESS ? findValue(found.key, name) : nullptr;
    if (value == nullptr) {
        return false;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (size != nullptr) {
        for (uint32_t i = 0; data != nullptr && i < *size && i < value->size; ++i) {
            data[i] = value->data[i];
        }
        *size = value->size;
    }
    return true;
}

int registrySubkeyCount(const char* path)
{
    ensurePopulated();
    const Walk found = walk(Root, path, false);
    int count = 0;
    for (int i = 1; found.status == ERROR_SUCCESS && i < MaxKeys; ++i) {
        count += keys[i].used && keys[i].parent == found.key ? 1 : 0;
    }
    return count;
}

const char* registrySubkeyName(const char* path, int index)
{
    ensurePopulated();
    const Walk found = walk(Root, path, false);
    // Windows lists subkeys in the order of their names, compared without
    // regard to case: the wanted one has exactly index siblings before it.
    for (int i = 1; found.status == ERROR_SUCCESS && i < MaxKeys; ++i) {
        if (!keys[i].used || keys[i].parent != found.key) {
            continue;
        }
        int before = 0;
        for (int j = 1; j < MaxKeys; ++j) {
            before += keys[j].used && keys[j].parent == found.key && sortsBefore(keys[j].name, keys[i].name) ? 1 : 0;
        }
        if (before == index) {
            return keys[i].name;
        }
    }
    return "";
}

void registryCreateKey(const char* path)
{
    ensurePopulated();
    walk(Root, path, true);
}

void registrySetValue(const char* path, const char* name, uint32_t type, const void* data, uint32_t size)
{
    ensurePopulated();
    const Walk found = walk(Root, path, true);
    if (found.status == ERROR_SUCCESS) {
        storeValue(found.key, name, type, static_cast<const BYTE*>(data), size);
    }
}

int openRegistryKeys()
{
    const auto isOpen = [](const KeyHandle& h) { return h.open; };
    return static_cast<int>(std::count_if(std::begin(handles), std::end(handles), isOpen));
}

} // namespace Sim
