// The registration's own routines, below the exports.
#include "install/internal.h"
#include "tests/support.h"

#include <string>

using namespace TestSupport;

namespace {

using RegistrationInternalTest = LibraryTest;
using DriverRegistration::DeviceParameterRecord;

DeviceParameterRecord record(const char* name)
{
    return DeviceParameterRecord{name, {0x300, 0}, {16, 0}, {9, 1}};
}

TEST_F(RegistrationInternalTest, AServiceNameOfUpTo127CharactersFitsAndALongerOneFailsQuietly)
{
    const std::string longest(127, 'N');
    EXPECT_EQ(DriverRegistration::writeParametersKey(record(longest.c_str())), 0);
    EXPECT_TRUE(Sim::registryKeyExists(("SYSTEM\\CurrentControlSet\\Services\\" + longest + "\\Parameters").c_str()));

    clearRecords();
    const std::string tooLong(128, 'N');
    EXPECT_EQ(DriverRegistration::writeParametersKey(record(tooLong.c_str())), 1);
    EXPECT_EQ(DriverRegistration::writeParametersKey(record(nullptr)), 1);
    EXPECT_EQ(Sim::registryCallCount(), 0);
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(Sim::openRegistryKeys(), 0);
}

TEST_F(RegistrationInternalTest, OmittedEntriesAreNotWritten)
{
    Sim::registryCreateKey("SYSTEM\\CurrentControlSet\\Services\\ZQ4810");
    DeviceParameterRecord all = record("ZQ4810");
    all.ioPortAddress.omit = 1;
    all.interrupt.omit = 0;
    EXPECT_EQ(DriverRegistration::writeParametersKey(all), 0);
    EXPECT_EQ(registryTrace(), "C:ZQ4810\\Parameters S:IoPortCount S:Interrupt X");
}

TEST_F(RegistrationInternalTest, WriteServiceKeyTellsWhetherItCreatedTheKey)
{
    bool createdNow = true;
    const DriverRegistration::ServiceValues values{2, 1, 3};
    EXPECT_EQ(DriverRegistration::writeServiceKey(values, createdNow), 0);
    EXPECT_TRUE(createdNow);
    EXPECT_EQ(registryValue("SYSTEM\\CurrentControlSet\\Services\\ZQ4810", "Start"), dwordValue(2));
    EXPECT_EQ(registryValue("SYSTEM\\CurrentControlSet\\Services\\ZQ4810", "ErrorControl"), dwordValue(3));
    EXPECT_EQ(DriverRegistration::writeServiceKey(values, createdNow), 0);
    EXPECT_FALSE(createdNow);

    Sim::failRegistryCreate("SYSTEM\\CurrentControlSet\\Services\\ZQ4810");
    createdNow = true;
    EXPECT_EQ(DriverRegistration::writeServiceKey(values, createdNow), 1);
    EXPECT_FALSE(createdNow);
}

} // namespace
