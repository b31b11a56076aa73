// Where the driver's registration lives, under HKEY_LOCAL_MACHINE.
#pragma once

namespace RegistryPaths {

constexpr const char ServicesRoot[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr const char ServiceName[] = "ZQ4810";
constexpr const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810";
constexpr const char ParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Parameters";
constexpr const char EnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Enum";
// Where Windows looks up a driver's event source.
constexpr const char EventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\ZQ4810";

} // namespace RegistryPaths
