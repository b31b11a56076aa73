#include "install/install.h"

#include "zq4810/result_code.h"
#include "common/user_notice.h"
#include "zq4810/registry_paths.h"
#include "platform/win32.h"

namespace DriverRegistration {

namespace {

constexpr const char Caption[] = "Error!";
constexpr const char TextCreateServiceKey[] = "Registry Error upon Create the ZQ4810 Key.";
constexpr const char TextSetServiceValue[] = "Registry Error upon Set Value for ZQ4810 key values.";
constexpr const char TextSetDeviceValue[] = "Registry Error upon Set Value for ZQ4810 device.";
constexpr const char TextDriverDataFailed[] = "Failed writing Driver registry data";
constexpr const char TextDeviceDataFailed[] = "Failed writing Device registry data";
constexpr const char TextSkippingLog[] = "Skipping log entry";
constexpr const char TextCreateEventKey[] = "Registry Error upon Create EventLog ZQ4810 Key.";
constexpr const char TextSetEventValue[] = "Registry Error upon Set Value in EventLog ZQ4810 Key.";
constexpr const char TextFirstSetup[] = "This is the initial driver setup. Do you want to continue?";
constexpr const char CaptionFirstSetup[] = "First time setup.";
constexpr const char TextRestart[] =
    "This is the initial driver setup, You must shut-down & re-boot for these changes to take effect.";
constexpr const char CaptionRestart[] = "Warning!";

// The one service written: a kernel-mode driver (Type 1) that the system
// starts (Start 1), with normal error control (ErrorControl 1).
constexpr u32 KernelDriver = 1;
constexpr u32 SystemStart = 1;
constexpr u32 NormalErrorControl = 1;

constexpr const char GroupName[] = "Extended Base";
constexpr const char EventMessageFile[] = "%SystemRoot%\\System32\\IoLogMsg.dll";
constexpr u32 TypesSupported = 7; // error, warning and information entries
constexpr u32 IoPortCount = 16;

constexpr i32 Ok = 0;
constexpr i32 Failed = 1;

void showError(const char* text)
{
    Notice::UserNotice(text, Caption, Notice::ErrorStyle);
}

// Creates or opens a key below HKEY_LOCAL_MACHINE with full access, no class,
// no security attributes, non-volatile.
bool createKey(const char* path, HKEY& key, bool& createdNow)
{
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return false;
    }
    createdNow = disposition == REG_CREATED_NEW_KEY;
    return true;
}

bool setDword(HKEY key, const char* name, u32 value)
{
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    return RegSetValueExA(key, name, 0, REG_DWORD, bytes, sizeof bytes) == ERROR_SUCCESS;
}

// Text values are written with their terminating zero.
bool setText(HKEY key, const char* name, DWORD type, const char* text, DWORD sizeWithZero)
{
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text), sizeWithZero) ==
           ERROR_SUCCESS;
}

bool setServiceValues(HKEY key)
{
    return setDword(key, "Type", KernelDriver) && setDword(key, "Start", SystemStart) &&
           setText(key, "Group", REG_SZ, GroupName, sizeof GroupName) &&
           setDword(key, "ErrorControl", NormalErrorControl);
}

// Registers the driver as an event source. Its values are written only when
// the key is created now; failures to reach the root or create the key are
// shown but do not fail the registration.
i32 writeEventSource()
{
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RegistryPaths::ServicesRootOpened, 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) {
        showError(TextSkippingLog);
        return Ok;
    }
    RegCloseKey(root);

    HKEY key = nullptr;
    bool createdNow = false;
    if (!createKey(RegistryPaths::EventSourceKey, key, createdNow)) {
        showError(TextCreateEventKey);
        return Ok;
    }
    if (createdNow && !(setText(key, "EventMessageFile", REG_EXPAND_SZ, EventMessageFile, sizeof EventMessageFile) &&
                        setDword(key, "TypesSupported", TypesSupported))) {
        showError(TextSetEventValue);
        RegCloseKey(key);
        return Failed;
    }
    RegCloseKey(key);
    return Ok;
}

// The service key with its start values, then the event source. 0 or 1;
// createdNow tells whether this call created the service key.
i32 writeServiceKey(bool& createdNow)
{
    createdNow = false;
    HKEY key = nullptr;
    if (!createKey(RegistryPaths::ServiceKey, key, createdNow)) {
        showError(TextCreateServiceKey);
        return Failed;
    }
    if (!setServiceValues(key)) {
        showError(TextSetServiceValue);
        RegCloseKey(key);
        return Failed;
    }
    RegCloseKey(key);
    // The service values stay written whatever the event source gives.
    return writeEventSource();
}

bool setParameter(HKEY key, const char* name, u32 value)
{
    if (!setDword(key, name, value)) {
        showError(TextSetDeviceValue);
        return false;
    }
    return true;
}

// The board's ports under Parameters: its base address and their count. 0 or
// 1; a key that cannot be created shows nothing here.
i32 writeParameters(u32 base)
{
    HKEY key = nullptr;
    bool createdNow = false;
    if (!createKey(RegistryPaths::ParametersKey, key, createdNow)) {
        return Failed;
    }
    const bool written = setParameter(key, "IoPortAddress", base) && setParameter(key, "IoPortCount", IoPortCount);
    if (!written) {
        showError(TextDeviceDataFailed);
    }
    RegCloseKey(key);
    return written ? Ok : Failed;
}

} // namespace

i32 checkIfDriver()
{
    HKEY key = nullptr;
    bool createdNow = false;
    if (!createKey(RegistryPaths::ServiceKey, key, createdNow)) {
        showError(TextCreateServiceKey);
        return ResultCode::Failure;
    }
    if (!createdNow) {
        RegCloseKey(key);
        return ResultCode::Success;
    }
    const i32 answer = Notice::UserNotice(TextFirstSetup, CaptionFirstSetup, Notice::QuestionStyle);
    RegCloseKey(key);
    if (answer == Notice::AnswerNo) {
        // Declined: take the new key away again. Whatever the deletion
        // gives, the answer stands.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, RegistryPaths::ServiceKey);
        return ResultCode::Declined;
    }
    return ResultCode::FirstSetup;
}

i32 setBaseAddress(i32 base)
{
    bool createdNow = false;
    if (writeServiceKey(createdNow) != Ok) {
        showError(TextDriverDataFailed);
        return ResultCode::Failure;
    }
    if (createdNow) {
        Notice::UserNotice(TextRestart, CaptionRestart, Notice::ErrorStyle);
    }
    if (writeParameters(static_cast<u32>(base)) != Ok) {
        showError(TextDeviceDataFailed);
        return ResultCode::Failure;
    }
    return ResultCode::Success;
}

} // namespace DriverRegistration
