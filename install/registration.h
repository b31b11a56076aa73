// Registering the driver with the system: the service key with its start
// values, the Parameters key with the board's base address and port count,
// and an event source for the driver's log entries. The driver reads them
// when it starts, at system start, so a first registration needs a restart.
#pragma once

#include "common/types.h"
#include "platform/win32.h"

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

// 0 the service key was there; 1 created now and not declined; -1 created
// now and declined (removed again); 255 it could not be created or opened.
i32 checkIfDriver();

// 0 everything written; 255 failure (already shown).
i32 setBaseAddress(i32 base);

// Writes the service values and the event source. 0 or 1; createdNow tells
// whether the service key was created by this call.
i32 writeServiceKey(const ServiceValues& values, bool& createdNow);

// Writes the record's entries under <services>\<name>\Parameters. 0 or 1; a
// key that cannot be created, or a name that is too long, shows nothing here.
i32 writeParametersKey(const DeviceParameterRecord& record);

// Writes one DWORD value unless the entry is omitted. 0 or 1.
i32 writeDwordEntry(HKEY key, const char* name, const DwordEntry& entry);

} // namespace DriverRegistration
