// Points the DLL's own import address table at the simulated platform. The
// DLL keeps calling through its table exactly as it would call Windows; only
// the addresses in the table change, so the code under test is the shipped
// code, with its real calling convention.
#include "tests/windows/harness.h"

#include "platform/sim/internal.h"

#include <cstring>

namespace {

// One slot for each import, typed as the real function: a stand-in with
// another parameter list or calling convention does not compile here.
struct StandIns {
    CreateFileAFunction* createFile;
    DeviceIoControlFunction* deviceIoControl;
    CloseHandleFunction* closeHandle;
    MessageBoxAFunction* messageBox;
    RegCreateKeyExAFunction* regCreateKey;
    RegOpenKeyExAFunction* regOpenKey;
    RegSetValueExAFunction* regSetValue;
    RegDeleteKeyAFunction* regDeleteKey;
    RegCloseKeyFunction* regCloseKey;
};

// The device and the notices go to the simulator; the registry to Wine's
// real one, through the simulator's fault-injecting store.
constexpr StandIns standIns = {
    &SimCreateFileA, &SimDeviceIoControl, &SimCloseHandle, &SimMessageBoxA, &SimRegCreateKeyExA,
    &SimRegOpenKeyExA, &SimRegSetValueExA, &SimRegDeleteKeyA, &SimRegCloseKey,
};

struct Redirect {
    const char* name;
    const void* to;
};

template <typename Function>
Redirect redirect(const char* name, Function* standIn)
{
    return Redirect{name, reinterpret_cast<const void*>(standIn)};
}

const Redirect redirects[] = {
    redirect("CreateFileA", standIns.createFile),
    redirect("DeviceIoControl", standIns.deviceIoControl),
    redirect("CloseHandle", standIns.closeHandle),
    redirect("MessageBoxA", standIns.messageBox),
    redirect("RegCreateKeyExA", standIns.regCreateKey),
    redirect("RegOpenKeyExA", standIns.regOpenKey),
    redirect("RegSetValueExA", standIns.regSetValue),
    redirect("RegDeleteKeyA", standIns.regDeleteKey),
    redirect("RegCloseKey", standIns.regCloseKey),
};

const void* redirectFor(const char* name)
{
    for (const Redirect& redirect : redirects) {
        if (std::strcmp(redirect.name, name) == 0) {
            return redirect.to;
        }
    }
    return nullptr;
}

} // namespace

namespace Harness {

HMODULE dll()
{
    return GetModuleHandleA(DllName);
}

const IMAGE_NT_HEADERS* ntHeaders()
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(dll());
    return at<IMAGE_NT_HEADERS>(static_cast<DWORD>(dos->e_lfanew));
}

int redirectImports()
{
    const IMAGE_DATA_DIRECTORY& directory = ntHeaders()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int changed = 0;
    for (const auto* library = at<IMAGE_IMPORT_DESCRIPTOR>(directory.VirtualAddress); library->Name != 0;
         ++library) {
        // The names are in the lookup table; the address table is what the
        // DLL's calls go through.
        const auto* lookup = at<IMAGE_THUNK_DATA>(library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk
                                                                                     : library->FirstThunk);
        auto* slot = const_cast<IMAGE_THUNK_DATA*>(at<IMAGE_THUNK_DATA>(library->FirstThunk));
        for (; lookup->u1.AddressOfData != 0; ++lookup, ++slot) {
            if ((lookup->u1.Ordinal & IMAGE_ORDINAL_FLAG) != 0) {
                continue;
            }
            // A name's entry holds its 31-bit address in either width.
            const auto* byName = at<IMAGE_IMPORT_BY_NAME>(static_cast<DWORD>(lookup->u1.AddressOfData));
            const void* to = redirectFor(reinterpret_cast<const char*>(byName->Name));
            if (to == nullptr) {
                continue;
            }
            DWORD was = 0;
            if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) {
                return -1;
            }
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(to);
            VirtualProtect(slot, sizeof *slot, was, &was);
            ++changed;
        }
    }
    return changed;
}

} // namespace Harness
