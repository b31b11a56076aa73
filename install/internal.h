// Inside the registration: where it lives in the registry and the routines
// the exports are built from, for install/*.cpp and the tests that reach
// below the exports.
#pragma once

#include "common/types.h"
#include "platform/win32.h"

namespace RegistryPaths {

// Under HKEY_LOCAL_MACHINE.
constexpr const char ServicesRoot[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr const char ServiceName[] = "ZQ4810";
constexpr const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810";
constexpr const char ParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Parameters";
constexpr const char EnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Enum";
// Where Windows looks up a driver's event source.
constexpr const char EventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\ZQ4810";

} // namespace RegistryPaths

namespace DriverRegistration {

// The service's start values, in this order; SETBASEADDRESS sets all to 1
// (system start, kernel-mode driver, normal error control).
struct ServiceValues {
    u32 start;
    u32 type;
    u32 errorControl;
};

// A DWORD parameter; a non-zero omit flag means it is not written.
struct DwordEntry {
    u32 value;
    u8 omit;
};

// The longest service name a record may carry.
constexpr int MaxServiceNameLength = 127;

struct DeviceParameterRecord {
    const char* serviceName; // zero-terminated, at most MaxServiceNameLength characters
    DwordEntry ioPortAddress;
    DwordEntry ioPortCount;
    DwordEntry interrupt;
};

// Writes the service values and the event source. 0 or 1; createdNow tells
// whether the service key was created by this call.
i32 writeServiceKey(const ServiceValues& values, bool& createdNow);

// Writes the record's entries under <services>\<name>\Parameters. 0 or 1; a
// key that cannot be created, or a name that is too long, shows nothing here.
i32 writeParametersKey(const DeviceParameterRecord& record);

// Writes one DWORD value unless the entry is omitted. 0 or 1.
i32 writeDwordEntry(HKEY key, const char* name, const DwordEntry& entry);

} // namespace DriverRegistration
