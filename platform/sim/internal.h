// Inside the simulated platform: its stand-ins for the nine Win32 functions
// the library calls, and what its parts offer each other.
//
// Each stand-in has the type of the real function (platform/win32.h), so it
// can take the real one's place in any binding: on the host the real names
// forward to them (host_bindings.cpp); under Windows a test program points
// the DLL's imports at them.
#pragma once

#include "model/hardware.h"
#include "platform/sim/control.h"
#include "platform/win32.h"

extern "C" {

CreateFileAFunction SimCreateFileA;
DeviceIoControlFunction SimDeviceIoControl;
CloseHandleFunction SimCloseHandle;
RegCreateKeyExAFunction SimRegCreateKeyExA;
RegOpenKeyExAFunction SimRegOpenKeyExA;
RegSetValueExAFunction SimRegSetValueExA;
RegDeleteKeyAFunction SimRegDeleteKeyA;
RegCloseKeyFunction SimRegCloseKey;
MessageBoxAFunction SimMessageBoxA;

} // extern "C"

// The counting and fault rules shared by the device and both registry
// stores (faults.cpp).
namespace SimFaults {
// Counts one call of this kind (and one of Call::Any) and tells whether it
// must fail.
bool hit(Sim::Call kind);
void reset();
}

// The driver's device and its handles (device.cpp).
namespace SimDevice {
void reset();
}

// The ports behind the device (ports.cpp): the hardware model's port reads,
// with the echo corruption set through control.h, its port writes, and the
// model itself for motion.
namespace SimPorts {
Hardware::Byte read(Hardware::Word offset);
void write(Hardware::Word offset, Hardware::Byte value);
Hardware::Board& board();
void reset();
}

// The requests the driver received (trace.cpp).
namespace SimTrace {
void record(const Sim::PortRequest& request);
}

// The axes' own motion over the host's clock (motion.cpp): catchUp() brings
// every axis to where its speed has carried it.
namespace SimMotion {
void catchUp();
// The environment's "still": the axes never move by themselves.
void holdStill();
void reset();
}

namespace SimNotices {
void reset();
}

// The registry's store: the in-memory tree on the host (registry_memory.cpp);
// in the Windows test program, the real registry behind thin wrappers
// (registry_wine.cpp). The build links one of them.
namespace SimRegistry {
void reset();
}

// The registry faults set through control.h and the registry call log,
// shared by both stores (registry_faults.cpp). Each call counts as one
// platform call of its kind (SimFaults) and tells whether it must fail, by
// number or by its path or value name.
namespace SimRegistryFaults {
bool create(const char* path);
bool open(const char* path);
bool set(const char* valueName);
bool remove(const char* path);
// A call to log, of this operation, its other fields empty.
Sim::RegistryCall callOn(char operation);
// A create to log, with what its caller asked for besides the path.
Sim::RegistryCall createCall(DWORD reserved, LPCSTR keyClass, DWORD options, REGSAM access,
                             LPSECURITY_ATTRIBUTES security);
// Logs the call with its result (for Sim::registryCall()) and returns the result.
LSTATUS finish(Sim::RegistryCall& call, LSTATUS result);
void reset();
}
