// Registering the driver and removing it again: the registry layout byte for
// byte, every call's flags, and every fault chain with its notices in order.
#include "install/registry_paths.h"
#include "tests/support.h"

#include <functional>

using namespace TestSupport;

namespace {

const char* const Service = RegistryPaths::ServiceKey;
const char* const Parameters = RegistryPaths::ParametersKey;
const char* const Enum = RegistryPaths::EnumKey;
const char* const EventSource = RegistryPaths::EventSourceKey;

constexpr uint32_t RegSz = 1;
constexpr uint32_t RegExpandSz = 2;
constexpr int No = 7;

// Every test also proves that no key handle was left open.
class RegistrationTest : public LibraryTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(Sim::openRegistryKeys(), 0) << "a registry key handle was left open";
        LibraryTest::TearDown();
    }
};

void expectServiceValues()
{
    EXPECT_EQ(registryValue(Service, "Type"), dwordValue(1));
    EXPECT_EQ(registryValue(Service, "Start"), dwordValue(1));
    EXPECT_EQ(registryValue(Service, "Group"), textValue(RegSz, "Extended Base"));
    EXPECT_EQ(registryValue(Service, "ErrorControl"), dwordValue(1));
}

TEST_F(RegistrationTest, SetBaseAddressOnACleanMachineWritesTheWholeLayoutAndWarnsOfTheRestart)
{
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    EXPECT_EQ(notices(), std::vector<std::string>{RestartWarning});
    expectServiceValues();
    EXPECT_EQ(registryValue(Service, "Group").bytes.size(), 14u);
    EXPECT_EQ(registryValue(Parameters, "IoPortAddress"), dwordValue(0x300));
    EXPECT_EQ(registryValue(Parameters, "IoPortCount"), dwordValue(16));
    EXPECT_EQ(registryValue(Parameters, "Interrupt"), (RegistryValue{0, {}}));
    EXPECT_EQ(registryValue(EventSource, "EventMessageFile"),
              textValue(RegExpandSz, "%SystemRoot%\\System32\\IoLogMsg.dll"));
    EXPECT_EQ(registryValue(EventSource, "EventMessageFile").bytes.size(), 35u);
    EXPECT_EQ(registryValue(EventSource, "TypesSupported"), dwordValue(7));
    EXPECT_EQ(Sim::registrySubkeyCount(Service), 1);
    EXPECT_STREQ(Sim::registrySubkeyName(Service, 0), "Parameters");
    EXPECT_EQ(registryTrace(), "C:ZQ4810 S:Type S:Start S:Group S:ErrorControl X O:(services) X "
                               "C:EventLog\\System\\ZQ4810 S:EventMessageFile S:TypesSupported X "
                               "C:ZQ4810\\Parameters S:IoPortAddress S:IoPortCount X");
}

TEST_F(RegistrationTest, EveryRegistryCallUsesFullAccessAndNoClassSecurityOrOptions)
{
    ASSERT_EQ(AZQ4810CHECKIFDRIVER(), 1);
    ASSERT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    ASSERT_GT(Sim::registryCallCount(), 0);
    int opens = 0;
    for (int i = 0; i < Sim::registryCallCount(); ++i) {
        const Sim::RegistryCall call = Sim::registryCall(i);
        SCOPED_TRACE(std::string(1, call.operation) + " " + call.path + " " + call.valueName);
        if (call.operation == 'C' || call.operation == 'O') {
            EXPECT_EQ(call.access, 0x000F003Fu); // KEY_ALL_ACCESS
            EXPECT_EQ(call.options, 0u);
        }
        if (call.operation == 'C') {
            EXPECT_FALSE(call.classGiven);
            EXPECT_FALSE(call.securityGiven);
        }
        if (call.operation == 'O') {
            EXPECT_STREQ(call.path, RegistryPaths::ServicesRootOpened);
            ++opens;
        }
        EXPECT_EQ(call.reserved, 0u);
        EXPECT_EQ(call.result, 0);
    }
    EXPECT_EQ(opens, 1);
}

TEST_F(RegistrationTest, TheBaseAddressIsStoredUnchanged)
{
    for (int base : {0x300, 0, -1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(base);
        EXPECT_EQ(AZQ4810SETBASEADDRESS(base), 0);
        EXPECT_EQ(registryValue(Parameters, "IoPortAddress"), dwordValue(static_cast<uint32_t>(base)));
        EXPECT_EQ(registryValue(Parameters, "IoPortCount"), dwordValue(16));
    }
}

TEST_F(RegistrationTest, FirstSetupAnsweredYesLeavesAnEmptyKeyAndTheNextSetBaseAddressDoesNotWarn)
{
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 1);
    EXPECT_EQ(notices(), std::vector<std::string>{FirstSetupQuestion});
    EXPECT_TRUE(Sim::registryKeyExists(Service));
    EXPECT_EQ(Sim::registrySubkeyCount(Service), 0);
    EXPECT_EQ(registryValue(Service, "Type"), (RegistryValue{0, {}}));

    clearRecords();
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    EXPECT_TRUE(notices().empty());
    expectServiceValues();
    EXPECT_EQ(registryValue(Parameters, "IoPortAddress"), dwordValue(0x300));

    // Registered: the check changes nothing and shows nothing.
    clearRecords();
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 0);
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(registryTrace(), "C:ZQ4810 X");
}

TEST_F(RegistrationTest, FirstSetupAnsweredNoRemovesTheKeyAndTheNextCheckAsksAgain)
{
    Sim::scriptAnswers(&No, 1);
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), -1);
    EXPECT_FALSE(Sim::registryKeyExists(Service));
    EXPECT_EQ(registryTrace(), "C:ZQ4810 X D:ZQ4810");
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 1); // asked again, answered Yes
    EXPECT_EQ(notices(), repeated(FirstSetupQuestion, 2));
}

TEST_F(RegistrationTest, AnyAnswerButNoGoesOn)
{
    // OK, Cancel, Yes, and -1 (a message box that could not be shown).
    for (int answer : {1, 2, 6, -1, 0}) {
        SCOPED_TRACE(answer);
        SetUp();
        Sim::scriptAnswers(&answer, 1);
        EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 1);
        EXPECT_TRUE(Sim::registryKeyExists(Service));
    }
}

TEST_F(RegistrationTest, DeclinedSetupWhoseDeletionFailsStillAnswersMinusOneSilently)
{
    Sim::scriptAnswers(&No, 1);
    Sim::failRegistryDelete(Service);
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), -1);
    EXPECT_EQ(notices(), std::vector<std::string>{FirstSetupQuestion});
    EXPECT_TRUE(Sim::registryKeyExists(Service));
}

TEST_F(RegistrationTest, AnExistingInterruptValueIsKeptAndRegisteringAgainRewritesWithoutWarning)
{
    const uint32_t irq = 5;
    Sim::registrySetValue(Parameters, "Interrupt", 4, &irq, 4);
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    EXPECT_EQ(notices(), std::vector<std::string>{}); // the service key was already there
    EXPECT_EQ(registryValue(Parameters, "Interrupt"), dwordValue(5));

    // The event source's values are written only when its key is new.
    const uint32_t types = 3;
    Sim::registrySetValue(EventSource, "TypesSupported", 4, &types, 4);
    Sim::registrySetValue(Service, "Start", 4, &types, 4);
    clearRecords();
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x280), 0);
    EXPECT_TRUE(notices().empty());
    expectServiceValues();
    EXPECT_EQ(registryValue(Parameters, "IoPortAddress"), dwordValue(0x280));
    EXPECT_EQ(registryValue(Parameters, "Interrupt"), dwordValue(5));
    EXPECT_EQ(registryValue(EventSource, "TypesSupported"), dwordValue(3));
}

// What a fault leaves behind: which values exist afterwards.
struct Left {
    const char* path;
    const char* name;
    bool present;
};

struct FaultCase {
    const char* name;
    std::function<void()> inject;
    std::function<int()> call;
    int result;
    std::vector<std::string> shown;
    std::vector<Left> left;
};

TEST_F(RegistrationTest, EveryFaultChainShowsItsNoticesInOrderAndKeepsWhatWasWritten)
{
    const auto check = [] { return AZQ4810CHECKIFDRIVER(); };
    const auto registerAt300 = [] { return AZQ4810SETBASEADDRESS(0x300); };
    const FaultCase cases[] = {
        {"service key cannot be created (check)", [] { Sim::failRegistryCreate(Service); }, check, 255,
         {CreateServiceKeyFailed}, {}},
        {"service key cannot be created (register)", [] { Sim::failRegistryCreate(Service); }, registerAt300, 255,
         {CreateServiceKeyFailed, DriverDataFailed}, {{Parameters, "IoPortAddress", false}}},
        {"a service value cannot be set", [] { Sim::failRegistrySet("Start"); }, registerAt300, 255,
         {SetServiceValueFailed, DriverDataFailed},
         {{Service, "Type", true}, {Service, "Start", false}, {Service, "Group", false},
          {Parameters, "IoPortAddress", false}}},
        {"a parameter value cannot be set", [] { Sim::failRegistrySet("IoPortCount"); }, registerAt300, 255,
         {SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed},
         {{Parameters, "IoPortAddress", true}, {Parameters, "IoPortCount", false}}},
        {"Parameters key cannot be created", [] { Sim::failRegistryCreate(Parameters); }, registerAt300, 255,
         {DeviceDataFailed}, {{Service, "ErrorControl", true}, {EventSource, "TypesSupported", true}}},
        {"services root cannot be opened", [] { Sim::failRegistryOpen(RegistryPaths::ServicesRootOpened); }, registerAt300, 0,
         {SkippingLogEntry},
         {{EventSource, "EventMessageFile", false}, {Parameters, "IoPortCount", true}}},
        {"event source key cannot be created", [] { Sim::failRegistryCreate(EventSource); }, registerAt300, 0,
         {CreateEventKeyFailed},
         {{EventSource, "EventMessageFile", false}, {Parameters, "IoPortCount", true}}},
        {"event message file cannot be set", [] { Sim::failRegistrySet("EventMessageFile"); }, registerAt300, 255,
         {SetEventValueFailed, DriverDataFailed},
         {{Service, "ErrorControl", true}, {EventSource, "TypesSupported", false},
          {Parameters, "IoPortAddress", false}}},
        {"types supported cannot be set", [] { Sim::failRegistrySet("TypesSupported"); }, registerAt300, 255,
         {SetEventValueFailed, DriverDataFailed},
         {{EventSource, "EventMessageFile", true}, {Parameters, "IoPortAddress", false}}},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        // The service key exists, so no first-setup question or restart
        // warning mixes with the fault's own notices.
        Sim::registryCreateKey(Service);
        c.inject();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(notices(), c.shown);
        for (const Left& left : c.left) {
            EXPECT_EQ(registryValue(left.path, left.name).type != 0, left.present) << left.path << " " << left.name;
        }
        EXPECT_EQ(Sim::openRegistryKeys(), 0);
    }
}

TEST_F(RegistrationTest, AFailedCreationOfANewServiceKeyBySetBaseAddressShowsNoRestartWarning)
{
    Sim::failRegistrySet("Type");
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x300), 255);
    EXPECT_EQ(notices(), (std::vector<std::string>{SetServiceValueFailed, DriverDataFailed}));
    EXPECT_TRUE(Sim::registryKeyExists(Service)); // created, and not rolled back
}

TEST_F(RegistrationTest, DeleteAllAfterARegistrationWithoutEnumReportsOnlyEnum)
{
    ASSERT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    clearRecords();
    EXPECT_EQ(AZQ4810DELETEALL(), 255);
    EXPECT_EQ(notices(), std::vector<std::string>{DeleteEnumFailed});
    EXPECT_FALSE(Sim::registryKeyExists(Service));
    EXPECT_EQ(registryTrace(), "D:ZQ4810\\Parameters D:ZQ4810\\Enum! D:ZQ4810");
    // The event source is not the removal's to take.
    EXPECT_TRUE(Sim::registryKeyExists(EventSource));
}

TEST_F(RegistrationTest, DeleteAllRemovesAnEnumKeyTheDriverLeft)
{
    ASSERT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    Sim::registryCreateKey(Enum);
    clearRecords();
    EXPECT_EQ(AZQ4810DELETEALL(), 0);
    EXPECT_TRUE(notices().empty());
    EXPECT_FALSE(Sim::registryKeyExists(Service));
}

TEST_F(RegistrationTest, DeleteAllWithNothingRegisteredShowsAllThreeNoticesInOrder)
{
    EXPECT_EQ(AZQ4810DELETEALL(), 765);
    EXPECT_EQ(notices(), (std::vector<std::string>{DeleteParametersFailed, DeleteEnumFailed, DeleteServiceFailed}));
}

TEST_F(RegistrationTest, EachDeletionFailingIsCountedAndTheOthersStillRun)
{
    const struct {
        const char* failing;
        int result;
        std::vector<std::string> shown;
    } cases[] = {
        // A Parameters key that stays blocks the service key too.
        {Parameters, 510, {DeleteParametersFailed, DeleteServiceFailed}},
        {Enum, 510, {DeleteEnumFailed, DeleteServiceFailed}},
        {Service, 255, {DeleteServiceFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        SetUp();
        ASSERT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
        Sim::registryCreateKey(Enum);
        clearRecords();
        Sim::failRegistryDelete(c.failing);
        EXPECT_EQ(AZQ4810DELETEALL(), c.result);
        EXPECT_EQ(notices(), c.shown);
        EXPECT_EQ(Sim::registryCallCount(), 3);
        EXPECT_TRUE(Sim::registryKeyExists(c.failing));
    }
}

TEST_F(RegistrationTest, DeleteRemovesOnlyABareServiceKey)
{
    ASSERT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    clearRecords();
    EXPECT_EQ(AZQ4810DELETE(), 255);
    EXPECT_EQ(notices(), std::vector<std::string>{DeleteServiceFailed});
    EXPECT_TRUE(Sim::registryKeyExists(Parameters));

    SetUp();
    ASSERT_EQ(AZQ4810CHECKIFDRIVER(), 1);
    clearRecords();
    EXPECT_EQ(AZQ4810DELETE(), 0);
    EXPECT_TRUE(notices().empty());
    EXPECT_FALSE(Sim::registryKeyExists(Service));

    // Nothing left to delete, or the deletion refused.
    EXPECT_EQ(AZQ4810DELETE(), 255);
    Sim::registryCreateKey(Service);
    Sim::failRegistryDelete(Service);
    EXPECT_EQ(AZQ4810DELETE(), 255);
    EXPECT_EQ(notices(), repeated(DeleteServiceFailed, 2));
}

TEST_F(RegistrationTest, TheWholeLifeOfARegistration)
{
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 1);
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 0);
    EXPECT_EQ(AZQ4810DELETEALL(), 255); // no Enum: the driver never ran
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 1); // a first setup again
    EXPECT_EQ(notices(), (std::vector<std::string>{FirstSetupQuestion, DeleteEnumFailed, FirstSetupQuestion}));
}

} // namespace
