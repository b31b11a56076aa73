// The driver's device as the library opens it and the simulator serves it:
// its name, and the two control codes, each one port byte (a read: a 4-byte
// port offset in, the byte out; a write: the offset and the byte in).
#pragma once

#include <stdint.h>

namespace Device {

constexpr const char Name[] = "\\\\.\\ZQ4810Dev";
constexpr uint32_t ReadCode = 0;
constexpr uint32_t WriteCode = 1;

} // namespace Device
