// Every export, run once normally and then once for each platform call it
// made, with exactly that call failing. The expectations are not copied
// outputs: they come from the handful of rules below, applied to the normal
// run's own record of what it sent.
#include "zq4810/registry_paths.h"
#include "tests/support.h"

#include <cstdio>
#include <sstream>

using namespace TestSupport;

namespace {

constexpr int ResultFailure = 255;
constexpr uint32_t ReadAccess = 0x80000000; // a device opening for reading
constexpr long Failed = 5;                  // a registry call's result when it fails (access denied)

// ---- What a run leaves behind ----------------------------------------------

std::vector<std::string> tokens(const char* trace)
{
    std::vector<std::string> all;
    std::istringstream in(trace);
    for (std::string token; in >> token;) {
        all.push_back(token);
    }
    return all;
}

struct Record {
    int result = 0;
    std::vector<std::string> trace;
    std::vector<Sim::PortRequest> requests; // the same requests one by one
    std::vector<std::string> notices;
    int deviceHandles = 0;
    std::vector<Sim::Call> calls; // the kind of each platform call, in order
    std::vector<Sim::OpenCall> openings;
    std::vector<Sim::RegistryCall> registry; // every call but the closes, which are not counted
    int registryKeys = 0;                    // key handles open after the call
};

// ---- The scenarios -----------------------------------------------------------

enum class Rule {
    Initialize,   // a self-test mask, or 255 when the device cannot be opened
    ReadPosition, // a count whose failed reads each give 0xFF
    WriteSum,     // 255 more for each failed write
    Close,        // 255 more for each failed close
    CheckIfDriver,
    SetBaseAddress,
    Delete,
    DeleteAll,
};

// The counts a position read finds: the latch already holds the first, the
// counter the second. Bytes that are neither 0x01 nor 0xFF and differ, so a
// lost byte shows.
constexpr uint32_t LatchedCount = 0x3A2B1C;
constexpr uint32_t CurrentCount = 0x8C5D4E;

void started()
{
    initializeQuietly();
}

// A started board brought back to zero (preset, counter, latch, byte pointer),
// as a board fresh from power-on, so a second board start meets the same board.
void startedAndZeroed()
{
    initializeQuietly();
    for (int axis = 0; axis < 4; ++axis) {
        AZQ4810PRWRITE(axis, 0);
        AZQ4810RESETCOUNTER(axis);
        AZQ4810READPOSITION(axis);
    }
}

template <int Axis>
void latchedThenMoved()
{
    initializeQuietly();
    Sim::setCounter(Axis, LatchedCount);
    AZQ4810READPOSITION(Axis);
    Sim::setCounter(Axis, CurrentCount);
}

void nothing() {}

using RegistryPaths::EnumKey;
using RegistryPaths::ParametersKey;
using RegistryPaths::ServiceKey;

void answeredNo()
{
    static const int No = 7;
    Sim::scriptAnswers(&No, 1);
}

void serviceKeyPresent()
{
    Sim::registryCreateKey(ServiceKey);
}

void registered()
{
    Sim::echoNotices(false);
    AZQ4810SETBASEADDRESS(0x300);
}

// A registration on which the driver has run once: it added its Enum key.
void registeredAndRun()
{
    registered();
    Sim::registryCreateKey(EnumKey);
}

struct Scenario {
    const char* name;
    void (*setUp)();
    int (*call)();
    Rule rule;
};

const Scenario Scenarios[] = {
    {"INITIALIZE on a closed channel", nothing, [] { return AZQ4810INITIALIZE(); }, Rule::Initialize},
    {"INITIALIZE again on an open channel", startedAndZeroed, [] { return AZQ4810INITIALIZE(); },
     Rule::Initialize},
    {"READPOSITION(0)", latchedThenMoved<0>, [] { return AZQ4810READPOSITION(0); }, Rule::ReadPosition},
    {"READPOSITION(3)", latchedThenMoved<3>, [] { return AZQ4810READPOSITION(3); }, Rule::ReadPosition},
    {"RESETCOUNTER(2)", started, [] { return AZQ4810RESETCOUNTER(2); }, Rule::WriteSum},
    {"SETMULTIPLIER(1)", started, [] { return AZQ4810SETMULTIPLIER(1); }, Rule::WriteSum},
    {"SETMULTIPLIER(2)", started, [] { return AZQ4810SETMULTIPLIER(2); }, Rule::WriteSum},
    {"SETMULTIPLIER(4)", started, [] { return AZQ4810SETMULTIPLIER(4); }, Rule::WriteSum},
    {"CHANGEMODE(0, 9)", started, [] { return AZQ4810CHANGEMODE(0, 9); }, Rule::WriteSum},
    {"CHANGEMODE(1, 6)", started, [] { return AZQ4810CHANGEMODE(1, 6); }, Rule::WriteSum},
    {"CHANGEMODE(2, 15)", started, [] { return AZQ4810CHANGEMODE(2, 15); }, Rule::WriteSum},
    {"CHANGEMODE(3, 1)", started, [] { return AZQ4810CHANGEMODE(3, 1); }, Rule::WriteSum},
    {"CHANGEMODE(4, 5)", started, [] { return AZQ4810CHANGEMODE(4, 5); }, Rule::WriteSum},
    {"PRWRITE(1, 0x12345678)", started, [] { return AZQ4810PRWRITE(1, 0x12345678); }, Rule::WriteSum},
    {"CLOSE", started, [] { return AZQ4810CLOSE(); }, Rule::Close},
    {"CHECKIFDRIVER answered Yes", nothing, [] { return AZQ4810CHECKIFDRIVER(); }, Rule::CheckIfDriver},
    {"CHECKIFDRIVER answered No", answeredNo, [] { return AZQ4810CHECKIFDRIVER(); }, Rule::CheckIfDriver},
    {"CHECKIFDRIVER on a present key", serviceKeyPresent, [] { return AZQ4810CHECKIFDRIVER(); },
     Rule::CheckIfDriver},
    {"SETBASEADDRESS on a clean machine", nothing, [] { return AZQ4810SETBASEADDRESS(0x300); },
     Rule::SetBaseAddress},
    {"SETBASEADDRESS after CHECKIFDRIVER", serviceKeyPresent, [] { return AZQ4810SETBASEADDRESS(0x2A0); },
     Rule::SetBaseAddress},
    {"SETBASEADDRESS again", registered, [] { return AZQ4810SETBASEADDRESS(0x310); }, Rule::SetBaseAddress},
    {"DELETE on a bare service key", serviceKeyPresent, [] { return AZQ4810DELETE(); }, Rule::Delete},
    {"DELETEALL after the driver ran", registeredAndRun, [] { return AZQ4810DELETEALL(); }, Rule::DeleteAll},
};

// ---- The rules -------------------------------------------------------------

// The keys the registration touches, told apart by path.
enum class Key { Service, Parameters, Enum, ServicesRoot, EventSource };

std::string lower(std::string text)
{
    for (char& c : text) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!text.empty() && text.back() == '\\') {
        text.pop_back();
    }
    return text;
}

Key keyOf(const Sim::RegistryCall& call)
{
    const std::string path = lower(call.path);
    if (path == lower(ServiceKey)) {
        return Key::Service;
    }
    if (path == lower(ParametersKey)) {
        return Key::Parameters;
    }
    if (path == lower(EnumKey)) {
        return Key::Enum;
    }
    if (path == "system\\currentcontrolset\\services") {
        return Key::ServicesRoot;
    }
    return Key::EventSource; // the one other key the registration creates
}

// A registry call as one line: "S:<key path>:Type", "!" at the end when it failed.
std::string describe(const Sim::RegistryCall& call)
{
    return std::string(1, call.operation) + ":" + lower(call.path) +
           (call.operation == 'S' ? ":" + std::string(call.valueName) : "") + (call.result != 0 ? "!" : "");
}

std::vector<std::string> describe(const std::vector<Sim::RegistryCall>& calls)
{
    std::vector<std::string> all;
    for (const Sim::RegistryCall& call : calls) {
        all.push_back(describe(call));
    }
    return all;
}

// The fault chains of registration and removal: for each registry call that
// can fail, the notices the failure adds in order, and whether the export
// stops there with 255. Two failures add none: a Parameters key that cannot
// be created has no notice of its own (only its caller's), and a deletion
// after a declined first setup is not shown.
struct Chain {
    Rule rule;
    char operation;
    Key key;
    std::vector<std::string> notices;
    bool stops;
};

const std::vector<Chain>& chains()
{
    static const std::vector<Chain> all = {
        {Rule::CheckIfDriver, 'C', Key::Service, {CreateServiceKeyFailed}, true},
        {Rule::CheckIfDriver, 'D', Key::Service, {}, false},
        {Rule::SetBaseAddress, 'C', Key::Service, {CreateServiceKeyFailed, DriverDataFailed}, true},
        {Rule::SetBaseAddress, 'S', Key::Service, {SetServiceValueFailed, DriverDataFailed}, true},
        {Rule::SetBaseAddress, 'O', Key::ServicesRoot, {SkippingLogEntry}, false},
        {Rule::SetBaseAddress, 'C', Key::EventSource, {CreateEventKeyFailed}, false},
        {Rule::SetBaseAddress, 'S', Key::EventSource, {SetEventValueFailed, DriverDataFailed}, true},
        {Rule::SetBaseAddress, 'C', Key::Parameters, {DeviceDataFailed}, true},
        {Rule::SetBaseAddress, 'S', Key::Parameters, {SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed},
         true},
        {Rule::Delete, 'D', Key::Service, {DeleteServiceFailed}, true},
        {Rule::DeleteAll, 'D', Key::Parameters, {DeleteParametersFailed}, false},
        {Rule::DeleteAll, 'D', Key::Enum, {DeleteEnumFailed}, false},
        {Rule::DeleteAll, 'D', Key::Service, {DeleteServiceFailed}, false},
    };
    return all;
}

// The first-setup question and the restart warning come once the service key
// (with its values and the event source) is done, before anything else.
bool beforeTheQuestionOrWarning(char operation, Key key)
{
    return operation != 'D' && (key == Key::Service || key == Key::ServicesRoot || key == Key::EventSource);
}

// The failed call, as the normal run made it.
struct Site {
    Sim::Call kind;
    int ordinal;        // 1 for the first call of its kind in the run
    int requestIndex;   // DeviceRequest: its index in the normal trace
    uint32_t access;    // DeviceOpen: what the opening asked for
    int registryIndex;  // a registry call: its index among the normal run's registry calls
};

// What a run with the site failing must give.
struct Expected {
    int result = 0;
    std::vector<std::string> trace;
    std::vector<std::string> notices;
    int deviceHandles = 0;
    // Initialize: the self-test of this axis may stop reading early; the
    // actual number of its reads is taken from the run (see below).
    int shortenedAxis = -1;
    std::vector<std::string> registry;
};

std::string failed(const std::string& token)
{
    return token + "!";
}

// One notice for each failed platform call, the one its kind and direction
// call for. Closing the previous pair of handles on a second INITIALIZE is
// housekeeping and is not shown.
std::vector<std::string> noticeFor(const Scenario& scenario, const Site& site)
{
    switch (site.kind) {
    case Sim::Call::DeviceRequest:
        return {RequestFailed};
    case Sim::Call::DeviceOpen:
        return {site.access == ReadAccess ? OpenReadFailed : OpenWriteFailed};
    case Sim::Call::DeviceClose:
        if (scenario.rule != Rule::Close) {
            return {};
        }
        // The read handle is closed first, then the write handle.
        return {site.ordinal == 1 ? CloseReadFailed : CloseWriteFailed};
    default:
        return {"unexpected platform call"};
    }
}

// A board start's write that the loop-back depends on, on a board at zero:
// the pattern bytes, loading the counter, latching it, and the byte-pointer
// reset that follows the start-up data byte. Losing any other set-up write
// (or a mode port write) leaves the self-test passing.
bool loopBackNeeds(const std::vector<Sim::PortRequest>& requests, int index)
{
    const Sim::PortRequest& request = requests[static_cast<size_t>(index)];
    if (request.port >= 8) {
        return false;
    }
    const bool data = request.port % 2 == 0;
    if (data) {
        return request.byte == 0x12 || request.byte == 0x57 || request.byte == 0xDA;
    }
    if (request.byte == 0x08 || request.byte == 0x10) {
        return true;
    }
    if (request.byte != 0x01) {
        return false;
    }
    // The first 0x01 of this axis's set-up, not the one after the pattern.
    for (int i = index - 1; i >= 0; --i) {
        const Sim::PortRequest& before = requests[static_cast<size_t>(i)];
        if (before.port == request.port - 1) {
            return before.byte == 0x0E;
        }
    }
    return false;
}

bool isWrite(const Sim::PortRequest& request)
{
    return request.kind == Sim::PortRequest::Write;
}

int signExtended(uint32_t count)
{
    return static_cast<int>(count << 8) >> 8;
}

bool isRegistry(Sim::Call kind)
{
    return kind == Sim::Call::RegistryCreate || kind == Sim::Call::RegistryOpen || kind == Sim::Call::RegistrySet ||
           kind == Sim::Call::RegistryDelete;
}

Expected expectRegistry(const Scenario& scenario, const Record& normal, const Site& site)
{
    Expected e;
    e.trace = normal.trace;
    e.deviceHandles = normal.deviceHandles;
    const Sim::RegistryCall& call = normal.registry[static_cast<size_t>(site.registryIndex)];
    const Key key = keyOf(call);
    const Chain* chain = nullptr;
    for (const Chain& c : chains()) {
        if (c.rule == scenario.rule && c.operation == call.operation && c.key == key) {
            chain = &c;
        }
    }
    if (chain == nullptr) {
        ADD_FAILURE() << "no rule for a failed " << describe(call);
        return e;
    }

    std::vector<Sim::RegistryCall> calls(normal.registry.begin(), normal.registry.begin() + site.registryIndex + 1);
    calls.back().result = Failed;
    int failures = 1;
    if (!chain->stops) {
        for (size_t i = static_cast<size_t>(site.registryIndex) + 1; i < normal.registry.size(); ++i) {
            Sim::RegistryCall next = normal.registry[i];
            // Without the services root or its own key the event source
            // writes nothing.
            if ((key == Key::ServicesRoot || key == Key::EventSource) && keyOf(next) == Key::EventSource) {
                continue;
            }
            // A subkey left behind makes the service key's deletion fail too,
            // with its notice.
            if (scenario.rule == Rule::DeleteAll && key != Key::Service && keyOf(next) == Key::Service) {
                next.result = Failed;
                ++failures;
            }
            calls.push_back(next);
        }
    }
    e.registry = describe(calls);

    std::vector<std::string> chainNotices = chain->notices;
    if (failures > 1) {
        chainNotices.push_back(DeleteServiceFailed);
    }
    if (beforeTheQuestionOrWarning(call.operation, key)) {
        e.notices = chainNotices + (chain->stops ? std::vector<std::string>{} : normal.notices);
    } else {
        e.notices = normal.notices + chainNotices;
    }

    if (chain->stops) {
        e.result = ResultFailure;
    } else if (scenario.rule == Rule::DeleteAll) {
        e.result = normal.result + failures * ResultFailure;
    } else {
        e.result = normal.result; // the failure is shown and the export goes on
    }
    return e;
}

Expected expect(const Scenario& scenario, const Record& normal, const Site& site)
{
    if (isRegistry(site.kind)) {
        return expectRegistry(scenario, normal, site);
    }
    Expected e;
    e.trace = normal.trace;
    e.notices = noticeFor(scenario, site);
    e.deviceHandles = normal.deviceHandles;
    e.registry = describe(normal.registry);
    if (site.kind == Sim::Call::DeviceRequest) {
        e.trace[static_cast<size_t>(site.requestIndex)] = failed(normal.trace[static_cast<size_t>(site.requestIndex)]);
    }
    const Sim::PortRequest request =
        site.kind == Sim::Call::DeviceRequest ? normal.requests[static_cast<size_t>(site.requestIndex)]
                                              : Sim::PortRequest{};

    switch (scenario.rule) {
    case Rule::Initialize:
        if (site.kind == Sim::Call::DeviceOpen) {
            // A failed opening stops the start: nothing is sent. The read
            // handle stays open when only the write handle failed.
            e.result = ResultFailure;
            e.trace.clear();
            e.deviceHandles = site.access == ReadAccess ? 0 : 1;
        } else if (site.kind == Sim::Call::DeviceRequest) {
            const int axis = static_cast<int>(request.port / 2);
            // A failed read marks its axis and ends that axis's reads; a
            // failed set-up write marks it when the loop-back needed it.
            if (!isWrite(request) || loopBackNeeds(normal.requests, site.requestIndex)) {
                e.result = 1 << axis;
                e.shortenedAxis = axis;
            } else {
                e.result = normal.result;
            }
        } else {
            e.result = normal.result;
        }
        break;
    case Rule::ReadPosition: {
        uint32_t count = static_cast<uint32_t>(normal.result) & 0xFFFFFF;
        // A lost latch command leaves the latch with what it held; a lost
        // byte-pointer reset changes nothing here, since the last three reads
        // left the pointer at the first byte.
        if (isWrite(request) && request.byte == 0x10) {
            count = LatchedCount;
        } else if (!isWrite(request)) {
            // A failed read gives 0xFF and never reached the board, so the
            // reads after it get the bytes one place earlier.
            int nth = 0; // which of the three reads failed
            for (int i = 0; i < site.requestIndex; ++i) {
                nth += isWrite(normal.requests[static_cast<size_t>(i)]) ? 0 : 1;
            }
            const uint32_t below = count & ((1u << (8 * nth)) - 1);
            count = (below | 0xFFu << (8 * nth) | (count & ~((1u << (8 * nth)) - 1)) << 8) & 0xFFFFFF;
        }
        e.result = signExtended(count);
        break;
    }
    case Rule::WriteSum:
    case Rule::Close:
        e.result = normal.result + ResultFailure;
        break;
    default:
        ADD_FAILURE() << "a device call from a registry export";
        break;
    }
    return e;
}

// ---- Running ---------------------------------------------------------------

Record runOnce(const Scenario& scenario, int failing)
{
    Sim::reset();
    Sim::echoNotices(false);
    AZQ4810CLOSE();
    Sim::reset();
    Sim::echoNotices(false);
    scenario.setUp();
    const int openingsBefore = Sim::openCallCount();
    clearRecords();
    if (failing > 0) {
        Sim::failCall(Sim::Call::Any, failing);
    }
    Record run;
    run.result = scenario.call();
    run.trace = tokens(Sim::trace());
    for (int i = 0; i < Sim::requestCount(); ++i) {
        run.requests.push_back(Sim::request(i));
    }
    run.notices = notices();
    run.deviceHandles = Sim::openDeviceHandles();
    for (int k = 1; k <= Sim::callCount(Sim::Call::Any); ++k) {
        run.calls.push_back(Sim::callKind(k));
    }
    for (int i = openingsBefore; i < Sim::openCallCount(); ++i) {
        run.openings.push_back(Sim::openCall(i));
    }
    for (int i = 0; i < Sim::registryCallCount(); ++i) {
        if (Sim::registryCall(i).operation != 'X') {
            run.registry.push_back(Sim::registryCall(i));
        }
    }
    run.registryKeys = Sim::openRegistryKeys();
    return run;
}

Site siteOf(const Record& normal, int k)
{
    Site site{normal.calls[static_cast<size_t>(k - 1)], 0, -1, 0, -1};
    int requests = 0;
    for (int i = 0; i < k; ++i) {
        site.registryIndex += isRegistry(normal.calls[static_cast<size_t>(i)]) ? 1 : 0;
        if (normal.calls[static_cast<size_t>(i)] == site.kind) {
            ++site.ordinal;
        }
        if (normal.calls[static_cast<size_t>(i)] == Sim::Call::DeviceRequest) {
            ++requests;
        }
    }
    site.requestIndex = requests - 1;
    if (site.kind == Sim::Call::DeviceOpen) {
        site.access = normal.openings[static_cast<size_t>(site.ordinal - 1)].access;
    }
    return site;
}

// The trace of an INITIALIZE whose self-test of one axis failed: that axis's
// reads stop at the first byte that differs. After a failed read there are
// none; after a failed write the run shows how many it took, at least one.
void compareShortened(const Expected& e, const Record& run, int failedIndex)
{
    const std::string readToken = "r" + std::to_string(2 * e.shortenedAxis);
    const bool failedRead = e.trace[static_cast<size_t>(failedIndex)] == failed(readToken);
    int actualReads = 0;
    for (size_t i = static_cast<size_t>(failedIndex) + 1; i < run.trace.size(); ++i) {
        actualReads += run.trace[i] == readToken ? 1 : 0;
    }
    if (failedRead) {
        EXPECT_EQ(actualReads, 0) << "no read after a failed one";
    } else {
        EXPECT_GE(actualReads, 1) << "the axis is still read";
    }
    std::vector<std::string> expected;
    int kept = 0;
    for (size_t i = 0; i < e.trace.size(); ++i) {
        if (static_cast<int>(i) > failedIndex && e.trace[i] == readToken) {
            if (kept >= actualReads) {
                continue;
            }
            ++kept;
        }
        expected.push_back(e.trace[i]);
    }
    EXPECT_EQ(run.trace, expected);
}

// Cases run per scenario, reported once the suite is through.
std::vector<std::pair<std::string, int>> casesRun;

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.name;
}

class FaultInjectionTest : public LibraryTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultInjectionTest, EveryPlatformCallFailingAloneFollowsTheRules)
{
    const Scenario& scenario = GetParam();
    const Record normal = runOnce(scenario, 0);
    // The normal run succeeds: it shows at most the first-setup question or
    // the restart warning.
    for (const std::string& notice : normal.notices) {
        ASSERT_TRUE(notice == FirstSetupQuestion || notice == RestartWarning) << notice;
    }
    ASSERT_GT(normal.calls.size(), 0u);
    ASSERT_LE(normal.calls.size(), 512u) << "beyond what the simulator keeps of the calls";

    for (int k = 1; k <= static_cast<int>(normal.calls.size()); ++k) {
        const Site site = siteOf(normal, k);
        SCOPED_TRACE(std::string(scenario.name) + ", failing call " + std::to_string(k) +
                     (site.kind == Sim::Call::DeviceRequest
                          ? " (" + normal.trace[static_cast<size_t>(site.requestIndex)] + ")"
                      : isRegistry(site.kind) ? " (" + describe(normal.registry[static_cast<size_t>(site.registryIndex)]) + ")"
                                              : ""));
        const Record run = runOnce(scenario, k);
        const Expected e = expect(scenario, normal, site);

        EXPECT_EQ(run.result, e.result);
        EXPECT_EQ(run.notices, e.notices);
        EXPECT_EQ(run.deviceHandles, e.deviceHandles);
        EXPECT_EQ(describe(run.registry), e.registry);
        EXPECT_EQ(run.registryKeys, 0) << "a registry key handle left open";
        if (e.shortenedAxis >= 0) {
            compareShortened(e, run, site.requestIndex);
        } else {
            EXPECT_EQ(run.trace, e.trace);
        }
        // Whatever failed, closing leaves no device handle open.
        Sim::echoNotices(false);
        AZQ4810CLOSE();
        EXPECT_EQ(Sim::openDeviceHandles(), 0);
    }
    casesRun.emplace_back(scenario.name, static_cast<int>(normal.calls.size()));
}

std::string testName(const ::testing::TestParamInfo<Scenario>& param)
{
    std::string name;
    for (const char* c = param.param.name; *c != '\0'; ++c) {
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9')) {
            name += *c;
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Exports, FaultInjectionTest, ::testing::ValuesIn(Scenarios), testName);

// Reports the number of cases once the suite is through.
class CaseCount : public ::testing::Environment {
    void TearDown() override
    {
        int total = 0;
        for (const auto& entry : casesRun) {
            std::printf("fault injection: %-40s %3d calls failed one by one\n", entry.first.c_str(), entry.second);
            total += entry.second;
        }
        if (total > 0) {
            std::printf("fault injection: %d single-fault cases\n", total);
        }
    }
};
const ::testing::Environment* const caseCount = ::testing::AddGlobalTestEnvironment(new CaseCount);

} // namespace
