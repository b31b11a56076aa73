// What every test shares: a fresh simulated machine and a library whose
// module state is back at "nothing open", and short ways to read notices.
#pragma once

#include "2KZQ4810/exports.h"
#include "platform/sim/control.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace TestSupport {

// One notice as "caption|text|style", style in hex: "ERROR!|Ioctl failed, unknown error.|0x10".
std::string describe(const Sim::ShownNotice& notice);

// Every notice shown since the last clear, described.
std::vector<std::string> notices();

// The same notice repeated: for expectations like "54 times the request failure".
std::vector<std::string> repeated(const std::string& notice, int times);

// Joins lists of expected notices.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);

// Notices the library shows, as describe() writes them. Constants, so that
// tables of cases in any file may use them when the program starts.
constexpr const char RequestFailed[] = "ERROR!|Ioctl failed, unknown error.|0x10";
constexpr const char WrongLength[] = "ERROR!|ReturnedLength != DataLength.|0x10";
constexpr const char OpenReadFailed[] = "ERROR!|Unable to open the read device.|0x10";
constexpr const char OpenWriteFailed[] = "ERROR!|Unable to open the write device.|0x10";
constexpr const char CloseReadFailed[] = "ERROR!|Failed to close the read device.|0x10";
constexpr const char CloseWriteFailed[] = "ERROR!|Failed to close the write device.|0x10";

// Starts the board with every axis echoing and clears the trace and notices,
// so a test sees only what follows.
void initializeQuietly();

// Forgets what was traced and shown, the registry calls, the call counts and
// the faults set by number.
void clearRecords();

} // namespace TestSupport

// Every test starts on a freshly booted simulated machine with the library's
// channel closed.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// A table of cases, each row a test of its own on a fresh machine: the
// test's parameter is the row's index, and each row is named after its case's
// field "name" (letters, digits and '_'):
//   INSTANTIATE_TEST_SUITE_P(Rows, SomeTest, rows(cases), rowNames(cases));
class LibraryTable : public LibraryTest, public ::testing::WithParamInterface<size_t> {};

namespace TestSupport {

template <typename Case, size_t N>
auto rows(const Case (&)[N])
{
    return ::testing::Range<size_t>(0, N);
}

template <typename Case, size_t N>
auto rowNames(const Case (&cases)[N])
{
    return [&cases](const ::testing::TestParamInfo<size_t>& info) { return std::string(cases[info.param].name); };
}

} // namespace TestSupport

namespace TestSupport {

// The registry calls since the last reset as one line, paths shortened below
// the services root: "C:ZQ4810 S:Type X O:(services) X D:ZQ4810\Enum". A
// failed call ends in '!'.
std::string registryTrace();

// A value's type and bytes; type 0 and no bytes when it is missing.
struct RegistryValue {
    uint32_t type;
    std::vector<uint8_t> bytes;
    bool operator==(const RegistryValue& other) const { return type == other.type && bytes == other.bytes; }
};
RegistryValue registryValue(const char* path, const char* name);
RegistryValue dwordValue(uint32_t value);
RegistryValue textValue(uint32_t type, const std::string& text); // with its terminating zero
void PrintTo(const RegistryValue& value, std::ostream* out);

// Registration notices, as describe() writes them.
constexpr const char CreateServiceKeyFailed[] = "Error!|Registry Error upon Create the ZQ4810 Key.|0x10";
constexpr const char SetServiceValueFailed[] = "Error!|Registry Error upon Set Value for ZQ4810 key values.|0x10";
constexpr const char SetDeviceValueFailed[] = "Error!|Registry Error upon Set Value for ZQ4810 device.|0x10";
constexpr const char DriverDataFailed[] = "Error!|Failed writing Driver registry data|0x10";
constexpr const char DeviceDataFailed[] = "Error!|Failed writing Device registry data|0x10";
constexpr const char SkippingLogEntry[] = "Error!|Skipping log entry|0x10";
constexpr const char CreateEventKeyFailed[] = "Error!|Registry Error upon Create EventLog ZQ4810 Key.|0x10";
constexpr const char SetEventValueFailed[] = "Error!|Registry Error upon Set Value in EventLog ZQ4810 Key.|0x10";
constexpr const char FirstSetupQuestion[] =
    "First time setup.|This is the initial driver setup. Do you want to continue?|0x04";
constexpr const char RestartWarning[] =
    "Warning!|This is the initial driver setup, You must shut-down & re-boot for these changes to take effect.|0x10";
constexpr const char DeleteServiceFailed[] = "ERROR!|Failed to delete the ZQ4810 device.|0x10";
constexpr const char DeleteParametersFailed[] = "ERROR!|Failed to delete the ZQ4810 subkey 'Parameters.'|0x10";
constexpr const char DeleteEnumFailed[] = "ERROR!|Failed to delete the ZQ4810 subkey 'Enum.'|0x10";

} // namespace TestSupport
