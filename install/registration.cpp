#include "install/install.h"

#include "common/result_code.h"
#include "common/user_notice.h"
#include "install/internal.h"

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

// The services root is opened with its trailing backslash, only to see that
// it can be reached.
constexpr const char ServicesRootToCheck[] = "SYSTEM\\CurrentControlSet\\Services\\";

constexpr const char GroupName[] = "Extended Base";
constexpr const char EventMessageFile[] = "%SystemRoot%\\System32\\IoLogMsg.dll";
constexpr u32 TypesSupported = 7; // error, warning and information entries
constexpr u32 IoPortCount = 16;

constexpr i32 Ok = 0;
constexpr i32 Failed = 1;

// Held while writeParametersKey runs.
HKEY parametersKey;

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

bool setServiceValues(HKEY key, const ServiceValues& values)
{
    return setDword(key, "Type", values.type) && setDword(key, "Start", values.start) &&
           setText(key, "Group", REG_SZ, GroupName, sizeof GroupName) &&
           setDword(key, "ErrorControl", values.errorControl);
}

// Registers the driver as an event source. Its values are written only when
// the key is created now; failures to reach the root or create the key are
// shown but do not fail the registration.
i32 writeEventSource()
{
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServicesRootToCheck, 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) {
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

// Copies text to out at position at, never past the end; false when it did
// not fit.
bool append(char* out, int size, int& at, const char* text)
{
    for (; *text != '\0'; ++text) {
        if (at >= size - 1) {
            return false;
        }
        out[at++] = *text;
    }
    out[at] = '\0';
    return true;
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
    static constexpr ServiceValues values{1, 1, 1};
    const DeviceParameterRecord record{RegistryPaths::ServiceName,
                                       {static_cast<u32>(base), 0},
                                       {IoPortCount, 0},
                                       {0, 1}};
    bool createdNow = false;
    if (writeServiceKey(values, createdNow) != Ok) {
        showError(TextDriverDataFailed);
        return ResultCode::Failure;
    }
    if (createdNow) {
        Notice::UserNotice(TextRestart, CaptionRestart, Notice::ErrorStyle);
    }
    if (writeParametersKey(record) != Ok) {
        showError(TextDeviceDataFailed);
        return ResultCode::Failure;
    }
    return ResultCode::Success;
}

i32 writeServiceKey(const ServiceValues& values, bool& createdNow)
{
    createdNow = false;
    HKEY key = nullptr;
    if (!createKey(RegistryPaths::ServiceKey, key, createdNow)) {
        showError(TextCreateServiceKey);
        return Failed;
    }
    if (!setServiceValues(key, values)) {
        showError(TextSetServiceValue);
        RegCloseKey(key);
        return Failed;
    }
    RegCloseKey(key);
    // The service values stay written whatever the event source gives.
    return writeEventSource();
}

i32 writeParametersKey(const DeviceParameterRecord& record)
{
    // Sized for the longest name a record may carry; a longer one fails here
    // rather than overflow.
    // Each sizeof counts its text's terminating zero; the path has one.
    char path[(sizeof RegistryPaths::ServicesRoot - 1) + 1 + MaxServiceNameLength + sizeof "\\Parameters"];
    int at = 0;
    if (record.serviceName == nullptr || !append(path, sizeof path, at, RegistryPaths::ServicesRoot) ||
        !append(path, sizeof path, at, "\\") || !append(path, sizeof path, at, record.serviceName) ||
        !append(path, sizeof path, at, "\\Parameters")) {
        return Failed;
    }
    bool createdNow = false;
    if (!createKey(path, parametersKey, createdNow)) {
        return Failed;
    }
    const bool written = writeDwordEntry(parametersKey, "IoPortAddress", record.ioPortAddress) == Ok &&
                         writeDwordEntry(parametersKey, "IoPortCount", record.ioPortCount) == Ok &&
                         writeDwordEntry(parametersKey, "Interrupt", record.interrupt) == Ok;
    if (!written) {
        showError(TextDeviceDataFailed);
    }
    RegCloseKey(parametersKey);
    parametersKey = nullptr;
    return written ? Ok : Failed;
}

i32 writeDwordEntry(HKEY key, const char* name, const DwordEntry& entry)
{
    if (entry.omit != 0) {
        return Ok;
    }
    if (!setDword(key, name, entry.value)) {
        showError(TextSetDeviceValue);
        return Failed;
    }
    return Ok;
}

} // namespace DriverRegistration
