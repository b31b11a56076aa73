// Registering the driver and removing it again: the registry layout byte for
// byte, every call's flags, the first-setup answers and the removals. What
// each single failed registry call shows and leaves is fault_injection_test's.
#include "zq4810/registry_paths.h"
#include "tests/support.h"

using namespace TestSupport;

namespace {

const char* const Service = RegistryPaths::ServiceKey;
const char* const Parameters = RegistryPaths::ParametersKey;
const char* const Enum = RegistryPaths::EnumKey;
const char* const EventSource = RegistryPaths::EventSourceKey;

constexpr uint32_t RegSz = 1;
constexpr uint32_t RegExpandSz = 2;
constexpr int No = 7;

// Every test, and every row of a table, also proves that no key handle was
// left open.
template <typename Base>
class NoKeyLeftOpen : public Base {
protected:
    void TearDown() override
    {
        EXPECT_EQ(Sim::openRegistryKeys(), 0) << "a registry key handle was left open";
        Base::TearDown();
    }
};
using RegistrationTest = NoKeyLeftOpen<LibraryTest>;
using RegistrationTable = NoKeyLeftOpen<LibraryTable>;

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

// The answer to the first-setup question. Only No declines: the new key is
// taken away again, and the answer stands even when that deletion fails,
// silently. Whatever is left decides the next check.
struct FirstSetupAnswer {
    const char* name;
    int answer;
    bool deletionFails;
    int result;
    const char* trace;
    bool keyLeft;
};

using FirstSetupAnswerTest = RegistrationTable;

const FirstSetupAnswer firstSetupAnswers[] = {
    {"Yes", 6, false, 1, "C:ZQ4810 X", true},
    {"Ok", 1, false, 1, "C:ZQ4810 X", true},
    {"Cancel", 2, false, 1, "C:ZQ4810 X", true},
    {"NotShown", -1, false, 1, "C:ZQ4810 X", true}, // a message box that could not be shown
    {"Zero", 0, false, 1, "C:ZQ4810 X", true},
    {"No", No, false, -1, "C:ZQ4810 X D:ZQ4810", false},
    {"NoAndTheDeletionFails", No, true, -1, "C:ZQ4810 X D:ZQ4810!", true},
};

INSTANTIATE_TEST_SUITE_P(Rows, FirstSetupAnswerTest, rows(firstSetupAnswers), rowNames(firstSetupAnswers));

TEST_P(FirstSetupAnswerTest, OnlyNoDeclinesAndWhatIsLeftDecidesTheNextCheck)
{
    const FirstSetupAnswer& c = firstSetupAnswers[GetParam()];
    Sim::scriptAnswers(&c.answer, 1);
    if (c.deletionFails) {
        Sim::failRegistryDelete(Service);
    }
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), c.result);
    EXPECT_EQ(notices(), std::vector<std::string>{FirstSetupQuestion});
    EXPECT_EQ(registryTrace(), c.trace);
    EXPECT_EQ(Sim::registryKeyExists(Service), c.keyLeft);

    // A key left is a registration: the check then asks nothing. Without one
    // it asks again (answered Yes).
    clearRecords();
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), c.keyLeft ? 0 : 1);
    EXPECT_EQ(notices().size(), c.keyLeft ? 0u : 1u);
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

TEST_F(RegistrationTest, AFailedCreationOfANewServiceKeyBySetBaseAddressShowsNoRestartWarning)
{
    Sim::failRegistrySet("Type");
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x300), 255);
    EXPECT_EQ(notices(), (std::vector<std::string>{SetServiceValueFailed, DriverDataFailed}));
    EXPECT_TRUE(Sim::registryKeyExists(Service)); // created, and not rolled back
}

// Removal, by DELETEALL (Parameters, Enum, the service key, each tried
// whatever the others gave) or DELETE (the service key alone).
enum class Before { Nothing, BareServiceKey, Registered, RegisteredAndRun };

struct Removal {
    const char* name;
    Before before;
    int (*call)();
    const char* failing; // a key whose deletion is refused, or null
    int result;
    std::vector<std::string> shown;
    const char* trace;
    const char* left; // the key that stays, with the service key above it; null when the service key is gone
};

using RemovalTest = RegistrationTable;

int deleteAll()
{
    return AZQ4810DELETEALL();
}

int deleteService()
{
    return AZQ4810DELETE();
}

const Removal removals[] = {
    {"AllOfARegistrationTheDriverRan", Before::RegisteredAndRun, deleteAll, nullptr, 0, {},
     "D:ZQ4810\\Parameters D:ZQ4810\\Enum D:ZQ4810", nullptr},
    // Without Enum: the driver never ran.
    {"AllOfARegistrationWithoutEnum", Before::Registered, deleteAll, nullptr, 255, {DeleteEnumFailed},
     "D:ZQ4810\\Parameters D:ZQ4810\\Enum! D:ZQ4810", nullptr},
    {"AllWithNothingRegistered", Before::Nothing, deleteAll, nullptr, 765,
     {DeleteParametersFailed, DeleteEnumFailed, DeleteServiceFailed},
     "D:ZQ4810\\Parameters! D:ZQ4810\\Enum! D:ZQ4810!", nullptr},
    // A Parameters key that stays blocks the service key too.
    {"AllWhenParametersIsRefused", Before::RegisteredAndRun, deleteAll, Parameters, 510,
     {DeleteParametersFailed, DeleteServiceFailed}, "D:ZQ4810\\Parameters! D:ZQ4810\\Enum D:ZQ4810!", Parameters},
    {"AllWhenEnumIsRefused", Before::RegisteredAndRun, deleteAll, Enum, 510, {DeleteEnumFailed, DeleteServiceFailed},
     "D:ZQ4810\\Parameters D:ZQ4810\\Enum! D:ZQ4810!", Enum},
    {"AllWhenTheServiceKeyIsRefused", Before::RegisteredAndRun, deleteAll, Service, 255, {DeleteServiceFailed},
     "D:ZQ4810\\Parameters D:ZQ4810\\Enum D:ZQ4810!", Service},
    {"ServiceOfABareKey", Before::BareServiceKey, deleteService, nullptr, 0, {}, "D:ZQ4810", nullptr},
    {"ServiceWithItsSubkeys", Before::Registered, deleteService, nullptr, 255, {DeleteServiceFailed}, "D:ZQ4810!",
     Parameters},
    {"ServiceWithNothingRegistered", Before::Nothing, deleteService, nullptr, 255, {DeleteServiceFailed},
     "D:ZQ4810!", nullptr},
    {"ServiceWhenRefused", Before::BareServiceKey, deleteService, Service, 255, {DeleteServiceFailed}, "D:ZQ4810!",
     Service},
};

INSTANTIATE_TEST_SUITE_P(Rows, RemovalTest, rows(removals), rowNames(removals));

TEST_P(RemovalTest, CountsEachKeyThatStaysAndLeavesTheEventSource)
{
    const Removal& c = removals[GetParam()];
    if (c.before == Before::BareServiceKey) {
        ASSERT_EQ(AZQ4810CHECKIFDRIVER(), 1);
    } else if (c.before != Before::Nothing) {
        ASSERT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    }
    if (c.before == Before::RegisteredAndRun) {
        Sim::registryCreateKey(Enum);
    }
    clearRecords();
    if (c.failing != nullptr) {
        Sim::failRegistryDelete(c.failing);
    }
    EXPECT_EQ(c.call(), c.result);
    EXPECT_EQ(notices(), c.shown);
    EXPECT_EQ(registryTrace(), c.trace);
    EXPECT_EQ(Sim::registryKeyExists(Service), c.left != nullptr);
    if (c.left != nullptr) {
        EXPECT_TRUE(Sim::registryKeyExists(c.left));
    }
    // The event source is not the removal's to take.
    EXPECT_EQ(Sim::registryKeyExists(EventSource), c.before == Before::Registered || c.before == Before::RegisteredAndRun);
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
