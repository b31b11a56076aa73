// Where the driver's registration lives, below HKEY_LOCAL_MACHINE. The
// library writes and removes these keys; the simulator (which starts the
// registered driver) and the tests read the same paths from here.
#pragma once

namespace RegistryPaths {

constexpr const char ServicesRoot[] = "SYSTEM\\CurrentControlSet\\Services";
// The services root as the registration opens it, only to see that it can be
// reached: with its trailing backslash.
constexpr const char ServicesRootOpened[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810";
constexpr const char ParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Parameters";
constexpr const char EnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Enum";
// Where Windows looks up a driver's event source; its parent is on every
// machine before any driver is registered.
constexpr const char EventLogSystemKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System";
constexpr const char EventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\ZQ4810";

} // namespace RegistryPaths
