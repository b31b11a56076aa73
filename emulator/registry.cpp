// The registry as a driver reads it: ZwOpenKey, ZwQueryValueKey and ZwClose
// over the simulated platform's store, the very one the DLL's registration
// wrote.
#include "emulator/kernel_internal.h"

#include "platform/sim/control.h"

#include <cstdio>
#include <strings.h>

namespace Kernel {
namespace {

constexpr uint32_t KeyQueryValue = 0x0001;
constexpr uint32_t PartialInformation = 2;
constexpr uint64_t FirstKey = 0x80; // the handles are FirstKey + 4 * slot

Key* key(uint64_t handle)
{
    const uint64_t slot = (handle - FirstKey) / 4;
    if (handle < FirstKey || (handle - FirstKey) % 4 != 0 || slot >= MaxKeys || !state.keys[slot].open) {
        breach(Rule::SystemArgument, "%s given the handle 0x%llx, which is no key the driver opened", called(),
               static_cast<unsigned long long>(handle));
        return nullptr;
    }
    return &state.keys[slot];
}

struct OpenKeyArguments {
    uint64_t handleOut, access, attributes;
};

uint64_t zwOpenKey(const OpenKeyArguments& a)
{
    const Layout& l = state.layout;
    if (!output(a.handleOut, pointerSize())) {
        return 0;
    }
    if (read32(a.attributes + l.AttributesLength) != l.ObjectAttributesSize) {
        return StatusInvalidParameter;
    }
    char name[MaxName];
    if (!readName(readPointer(a.attributes + l.AttributesName), name, sizeof name)) {
        return 0;
    }
    char path[256];
    const uint64_t root = readPointer(a.attributes + l.AttributesRoot);
    if (root != 0) {
        const Key* parent = key(root);
        if (parent == nullptr) {
            return 0;
        }
        if (std::snprintf(path, sizeof path, "%s\\%s", parent->path, name) >= static_cast<int>(sizeof path)) {
            return StatusObjectNameNotFound; // longer than any key this kernel keeps
        }
    } else if (strncasecmp(name, RegistryRoot, sizeof RegistryRoot - 1) == 0) {
        std::snprintf(path, sizeof path, "%s", name + sizeof RegistryRoot - 1);
    } else {
        return StatusObjectNameNotFound;
    }
    uint32_t status = 0;
    if (injected(&status)) {
        return status;
    }
    if (!Sim::registryKeyExists(path)) {
        return StatusObjectNameNotFound;
    }
    for (int slot = 0; slot < MaxKeys; ++slot) {
        Key& opened = state.keys[slot];
        if (!opened.open) {
            opened.open = true;
            opened.access = static_cast<uint32_t>(a.access);
            std::snprintf(opened.path, sizeof opened.path, "%s", path);
            writePointer(a.handleOut, FirstKey + 4 * static_cast<uint64_t>(slot));
            return StatusSuccess;
        }
    }
    return StatusInsufficientResources;
}

struct QueryValueKeyArguments {
    uint64_t key, valueName, informationClass, buffer, length, resultLength;
};

uint64_t zwQueryValueKey(const QueryValueKeyArguments& a)
{
    const Layout& l = state.layout;
    const uint32_t informationClass = static_cast<uint32_t>(a.informationClass), length = static_cast<uint32_t>(a.length);
    const Key* opened = key(a.key);
    char name[MaxName];
    if (opened == nullptr || !readName(a.valueName, name, sizeof name) || !output(a.resultLength, 4)) {
        return 0;
    }
    if (informationClass != PartialInformation) {
        breach(Rule::Unsupported, "ZwQueryValueKey asked for information class %u; this kernel serves the partial one (2)",
               informationClass);
        return 0;
    }
    uint32_t status = 0;
    if (injected(&status)) {
        return status;
    }
    if ((opened->access & KeyQueryValue) == 0) {
        return StatusAccessDenied;
    }
    uint8_t data[MaxTransfer];
    uint32_t type = 0, size = sizeof data;
    if (!Sim::registryValue(opened->path, name, &type, data, &size)) {
        return StatusObjectNameNotFound;
    }
    const uint32_t header = l.ValueData, needed = header + size;
    write32(a.resultLength, needed);
    if (length < header) {
        return StatusBufferTooSmall;
    }
    if (!output(a.buffer, length < needed ? header : needed)) {
        return 0;
    }
    write32(a.buffer, 0); // TitleIndex
    write32(a.buffer + l.ValueType, type);
    write32(a.buffer + l.ValueDataLength, size);
    if (length < needed) {
        return StatusBufferOverflow;
    }
    Emulator::writeGuest(cpu(), a.buffer + header, data, size);
    return StatusSuccess;
}

struct CloseArguments {
    uint64_t handle;
};

uint64_t zwClose(const CloseArguments& a)
{
    Key* opened = key(a.handle);
    if (opened == nullptr) {
        return 0;
    }
    opened->open = false;
    return StatusSuccess;
}

constexpr Emulator::SystemFunction Rows[] = {
    Emulator::function<OpenKeyArguments, zwOpenKey>(Ntoskrnl, "ZwOpenKey"),
    Emulator::function<QueryValueKeyArguments, zwQueryValueKey>(Ntoskrnl, "ZwQueryValueKey"),
    Emulator::function<CloseArguments, zwClose>(Ntoskrnl, "ZwClose"),
};

} // namespace

const Emulator::FunctionTable RegistryFunctions = Emulator::tableOf(Rows);

} // namespace Kernel
