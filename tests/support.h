// What every test shares: a fresh simulated machine and a library whose
// module state is back at "nothing open", and short ways to read notices.
#pragma once

#include "api/exports.h"
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

// Notices the library shows, as describe() writes them.
extern const std::string RequestFailed;
extern const std::string WrongLength;
extern const std::string OpenReadFailed;
extern const std::string OpenWriteFailed;
extern const std::string CloseReadFailed;
extern const std::string CloseWriteFailed;

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

// A table of cases, each row a test of its own on a fresh machine: Case has
// a field "name" (letters, digits and '_'), which names the row.
template <typename Case>
class LibraryTable : public LibraryTest, public ::testing::WithParamInterface<Case> {};

namespace TestSupport {

// The name generator for INSTANTIATE_TEST_SUITE_P over such cases.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const
    {
        return info.param.name;
    }
};

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
extern const std::string CreateServiceKeyFailed;
extern const std::string SetServiceValueFailed;
extern const std::string SetDeviceValueFailed;
extern const std::string DriverDataFailed;
extern const std::string DeviceDataFailed;
extern const std::string SkippingLogEntry;
extern const std::string CreateEventKeyFailed;
extern const std::string SetEventValueFailed;
extern const std::string FirstSetupQuestion;
extern const std::string RestartWarning;
extern const std::string DeleteServiceFailed;
extern const std::string DeleteParametersFailed;
extern const std::string DeleteEnumFailed;

} // namespace TestSupport
