// Every export, run once without a fault and then once for each platform call
// it makes with exactly that call failing: a device opening, request or close,
// or a registry call other than a key's close. Each scenario lists its cases:
// cases[0] is the run without a fault, cases[k] the run whose k-th call fails.
#include "zq4810/registry_paths.h"
#include "tests/support.h"

using namespace TestSupport;

namespace {

// What one run must give.
struct Case {
    int result;
    std::vector<std::string> notices;
    int handles;       // device handles open afterwards
    std::string trace; // the port trace; for a registration or removal, the registry trace
};

// A board start without a fault: the mode ports, then each axis set up, the
// pattern loaded, latched and read back. A board start's case gives only the
// part of the trace its fault changed, the one beginning with the same request;
// the other parts are as here.
const char* const BoardStart[] = {
    "w8=00 w9=00",
    "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0 r0",
    "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2 r2",
    "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4 r4",
    "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6 r6",
};

std::string boardStartTrace(const std::string& part)
{
    if (part.empty()) {
        return part; // not a request sent
    }
    std::string trace;
    for (const char* normal : BoardStart) {
        // The first request of each part: five characters, a fault mark aside.
        trace += (trace.empty() ? "" : " ") + (part.compare(0, 5, normal, 5) == 0 ? part : std::string(normal));
    }
    return trace;
}

// A board start that went as without a fault.
const Case Started = {0, {}, 2, "w8=00 w9=00"};

// A first board start's calls failing one by one: the two openings, the mode
// ports, then each axis's fifteen requests.
// A failed opening stops the start; the read handle stays open when only the
// write handle failed. A failed read, or a lost set-up write the loop-back
// needs (the pointer reset before the pattern, a pattern byte, the load, the
// latch), fails that axis's self-test, whose reads stop at the first byte
// that differs. Any other lost write leaves the self-test passing.
const std::vector<Case> FirstStartFaults = {
    {255, {OpenReadFailed}, 0, ""},
    {255, {OpenWriteFailed}, 1, ""},
    // The mode ports.
    {0, {RequestFailed}, 2, "w8=00! w9=00"},
    {0, {RequestFailed}, 2, "w8=00 w9=00!"},
    // Axis 0.
    {0, {RequestFailed}, 2, "w0=0E! w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0 r0"},
    {0, {RequestFailed}, 2, "w0=0E w1=98! w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0 r0"},
    {0, {RequestFailed}, 2, "w0=0E w1=98 w1=C1! w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0 r0"},
    {0, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8! w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0 r0"},
    {0, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02! w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0 r0"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01! w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12! w0=57 w0=DA w1=08 w1=10 w1=01 r0"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57! w0=DA w1=08 w1=10 w1=01 r0 r0"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA! w1=08 w1=10 w1=01 r0 r0 r0"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08! w1=10 w1=01 r0"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10! w1=01 r0"},
    {0, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01! r0 r0 r0"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0!"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0!"},
    {1, {RequestFailed}, 2, "w0=0E w1=98 w1=C1 w1=B8 w1=02 w1=01 w0=12 w0=57 w0=DA w1=08 w1=10 w1=01 r0 r0 r0!"},
    // Axis 1.
    {0, {RequestFailed}, 2, "w2=0E! w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2 r2"},
    {0, {RequestFailed}, 2, "w2=0E w3=98! w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2 r2"},
    {0, {RequestFailed}, 2, "w2=0E w3=98 w3=C1! w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2 r2"},
    {0, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8! w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2 r2"},
    {0, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02! w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2 r2"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01! w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12! w2=57 w2=DA w3=08 w3=10 w3=01 r2"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57! w2=DA w3=08 w3=10 w3=01 r2 r2"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA! w3=08 w3=10 w3=01 r2 r2 r2"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08! w3=10 w3=01 r2"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10! w3=01 r2"},
    {0, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01! r2 r2 r2"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2!"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2!"},
    {2, {RequestFailed}, 2, "w2=0E w3=98 w3=C1 w3=B8 w3=02 w3=01 w2=12 w2=57 w2=DA w3=08 w3=10 w3=01 r2 r2 r2!"},
    // Axis 2.
    {0, {RequestFailed}, 2, "w4=0E! w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4 r4"},
    {0, {RequestFailed}, 2, "w4=0E w5=98! w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4 r4"},
    {0, {RequestFailed}, 2, "w4=0E w5=98 w5=C1! w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4 r4"},
    {0, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8! w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4 r4"},
    {0, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02! w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4 r4"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01! w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12! w4=57 w4=DA w5=08 w5=10 w5=01 r4"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57! w4=DA w5=08 w5=10 w5=01 r4 r4"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA! w5=08 w5=10 w5=01 r4 r4 r4"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08! w5=10 w5=01 r4"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10! w5=01 r4"},
    {0, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01! r4 r4 r4"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4!"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4!"},
    {4, {RequestFailed}, 2, "w4=0E w5=98 w5=C1 w5=B8 w5=02 w5=01 w4=12 w4=57 w4=DA w5=08 w5=10 w5=01 r4 r4 r4!"},
    // Axis 3.
    {0, {RequestFailed}, 2, "w6=0E! w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6 r6"},
    {0, {RequestFailed}, 2, "w6=0E w7=98! w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6 r6"},
    {0, {RequestFailed}, 2, "w6=0E w7=98 w7=C1! w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6 r6"},
    {0, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8! w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6 r6"},
    {0, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02! w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6 r6"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01! w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12! w6=57 w6=DA w7=08 w7=10 w7=01 r6"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57! w6=DA w7=08 w7=10 w7=01 r6 r6"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA! w7=08 w7=10 w7=01 r6 r6 r6"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08! w7=10 w7=01 r6"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10! w7=01 r6"},
    {0, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01! r6 r6 r6"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6!"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6!"},
    {8, {RequestFailed}, 2, "w6=0E w7=98 w7=C1 w7=B8 w7=02 w7=01 w6=12 w6=57 w6=DA w7=08 w7=10 w7=01 r6 r6 r6!"},
};

// A scenario's cases, from lists of them in order.
std::vector<Case> joined(std::initializer_list<std::vector<Case>> lists)
{
    std::vector<Case> all;
    for (const std::vector<Case>& list : lists) {
        all.insert(all.end(), list.begin(), list.end());
    }
    return all;
}

// The counts a position read finds: the latch already holds the first, the
// counter the second. Bytes that differ, so a lost or shifted byte shows.
template <int Axis>
void latchedThenMoved()
{
    initializeQuietly();
    Sim::setCounter(Axis, 0x3A2B1C);
    AZQ4810READPOSITION(Axis);
    Sim::setCounter(Axis, 0x8C5D4E);
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

void started()
{
    initializeQuietly();
}

void nothing() {}

void answeredNo()
{
    static const int No = 7;
    Sim::scriptAnswers(&No, 1);
}

void serviceKeyPresent()
{
    Sim::registryCreateKey(RegistryPaths::ServiceKey);
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
    Sim::registryCreateKey(RegistryPaths::EnumKey);
}

// Registry traces, below the services root; 'X' closes a key.
const std::string ServiceKeyWritten = "C:ZQ4810 S:Type S:Start S:Group S:ErrorControl X";
const std::string EventSourceWritten =
    "O:(services) X C:EventLog\\System\\ZQ4810 S:EventMessageFile S:TypesSupported X";
const std::string ParametersWritten = "C:ZQ4810\\Parameters S:IoPortAddress S:IoPortCount X";

// Every registration first writes the service key; a failure there stops it.
const std::vector<Case> ServiceKeyFaults = {
    {255, {CreateServiceKeyFailed, DriverDataFailed}, 0, "C:ZQ4810!"},
    {255, {SetServiceValueFailed, DriverDataFailed}, 0, "C:ZQ4810 S:Type! X"},
    {255, {SetServiceValueFailed, DriverDataFailed}, 0, "C:ZQ4810 S:Type S:Start! X"},
    {255, {SetServiceValueFailed, DriverDataFailed}, 0, "C:ZQ4810 S:Type S:Start S:Group! X"},
    {255, {SetServiceValueFailed, DriverDataFailed}, 0, "C:ZQ4810 S:Type S:Start S:Group S:ErrorControl! X"},
};

// What a scenario's cases trace: the ports, a board start's ports part by part
// (see BoardStart), or the registry.
enum class Traced { Ports, StartParts, Registry };

struct Scenario {
    const char* name;
    void (*setUp)();
    int (*call)();
    Traced traced;
    std::vector<Case> cases;
};

const Scenario Scenarios[] = {
    {"INITIALIZE on a closed channel", nothing, [] { return AZQ4810INITIALIZE(); }, Traced::StartParts,
     joined({{Started}, FirstStartFaults})},
    // A second start first closes the pair it holds; either close failing is
    // not shown (the old handles are gone either way). Then come the calls of
    // a first start.
    {"INITIALIZE again on an open channel", startedAndZeroed, [] { return AZQ4810INITIALIZE(); }, Traced::StartParts,
     joined({{Started, Started, Started}, FirstStartFaults})},
    // A lost latch command leaves the latch with what it held. A failed read
    // gives 0xFF and never reaches the board, so the later reads get the
    // bytes one place earlier.
    {"READPOSITION(0)", latchedThenMoved<0>, [] { return AZQ4810READPOSITION(0); }, Traced::Ports,
     {{static_cast<int>(0xFF8C5D4Eu), {}, 2, "w1=10 w1=01 r0 r0 r0"},
      {0x3A2B1C, {RequestFailed}, 2, "w1=10! w1=01 r0 r0 r0"},
      {static_cast<int>(0xFF8C5D4Eu), {RequestFailed}, 2, "w1=10 w1=01! r0 r0 r0"},
      {0x5D4EFF, {RequestFailed}, 2, "w1=10 w1=01 r0! r0 r0"},
      {0x5DFF4E, {RequestFailed}, 2, "w1=10 w1=01 r0 r0! r0"},
      {static_cast<int>(0xFFFF5D4Eu), {RequestFailed}, 2, "w1=10 w1=01 r0 r0 r0!"}}},
    {"READPOSITION(3)", latchedThenMoved<3>, [] { return AZQ4810READPOSITION(3); }, Traced::Ports,
     {{static_cast<int>(0xFF8C5D4Eu), {}, 2, "w7=10 w7=01 r6 r6 r6"},
      {0x3A2B1C, {RequestFailed}, 2, "w7=10! w7=01 r6 r6 r6"},
      {static_cast<int>(0xFF8C5D4Eu), {RequestFailed}, 2, "w7=10 w7=01! r6 r6 r6"},
      {0x5D4EFF, {RequestFailed}, 2, "w7=10 w7=01 r6! r6 r6"},
      {0x5DFF4E, {RequestFailed}, 2, "w7=10 w7=01 r6 r6! r6"},
      {static_cast<int>(0xFFFF5D4Eu), {RequestFailed}, 2, "w7=10 w7=01 r6 r6 r6!"}}},
    // Each failed write adds 255 to the sum.
    {"RESETCOUNTER(2)", started, [] { return AZQ4810RESETCOUNTER(2); }, Traced::Ports,
     {{0, {}, 2, "w5=02"}, {255, {RequestFailed}, 2, "w5=02!"}}},
    {"SETMULTIPLIER(1)", started, [] { return AZQ4810SETMULTIPLIER(1); }, Traced::Ports,
     {{0, {}, 2, "w1=A8 w3=A8 w5=A8 w7=A8"},
      {255, {RequestFailed}, 2, "w1=A8! w3=A8 w5=A8 w7=A8"},
      {255, {RequestFailed}, 2, "w1=A8 w3=A8! w5=A8 w7=A8"},
      {255, {RequestFailed}, 2, "w1=A8 w3=A8 w5=A8! w7=A8"},
      {255, {RequestFailed}, 2, "w1=A8 w3=A8 w5=A8 w7=A8!"}}},
    {"SETMULTIPLIER(2)", started, [] { return AZQ4810SETMULTIPLIER(2); }, Traced::Ports,
     {{0, {}, 2, "w1=B0 w3=B0 w5=B0 w7=B0"},
      {255, {RequestFailed}, 2, "w1=B0! w3=B0 w5=B0 w7=B0"},
      {255, {RequestFailed}, 2, "w1=B0 w3=B0! w5=B0 w7=B0"},
      {255, {RequestFailed}, 2, "w1=B0 w3=B0 w5=B0! w7=B0"},
      {255, {RequestFailed}, 2, "w1=B0 w3=B0 w5=B0 w7=B0!"}}},
    {"SETMULTIPLIER(4)", started, [] { return AZQ4810SETMULTIPLIER(4); }, Traced::Ports,
     {{0, {}, 2, "w1=B8 w3=B8 w5=B8 w7=B8"},
      {255, {RequestFailed}, 2, "w1=B8! w3=B8 w5=B8 w7=B8"},
      {255, {RequestFailed}, 2, "w1=B8 w3=B8! w5=B8 w7=B8"},
      {255, {RequestFailed}, 2, "w1=B8 w3=B8 w5=B8! w7=B8"},
      {255, {RequestFailed}, 2, "w1=B8 w3=B8 w5=B8 w7=B8!"}}},
    {"CHANGEMODE(0, 9)", started, [] { return AZQ4810CHANGEMODE(0, 9); }, Traced::Ports,
     {{0, {}, 2, "w8=09"}, {255, {RequestFailed}, 2, "w8=09!"}}},
    {"CHANGEMODE(1, 6)", started, [] { return AZQ4810CHANGEMODE(1, 6); }, Traced::Ports,
     {{0, {}, 2, "w8=60"}, {255, {RequestFailed}, 2, "w8=60!"}}},
    {"CHANGEMODE(2, 15)", started, [] { return AZQ4810CHANGEMODE(2, 15); }, Traced::Ports,
     {{0, {}, 2, "w9=0F"}, {255, {RequestFailed}, 2, "w9=0F!"}}},
    {"CHANGEMODE(3, 1)", started, [] { return AZQ4810CHANGEMODE(3, 1); }, Traced::Ports,
     {{0, {}, 2, "w9=10"}, {255, {RequestFailed}, 2, "w9=10!"}}},
    {"CHANGEMODE(4, 5)", started, [] { return AZQ4810CHANGEMODE(4, 5); }, Traced::Ports,
     {{0, {}, 2, "w8=55 w9=55"}, {255, {RequestFailed}, 2, "w8=55! w9=55"}, {255, {RequestFailed}, 2, "w8=55 w9=55!"}}},
    {"PRWRITE(1, 0x12345678)", started, [] { return AZQ4810PRWRITE(1, 0x12345678); }, Traced::Ports,
     {{0, {}, 2, "w3=01 w2=78 w2=56 w2=34"},
      {255, {RequestFailed}, 2, "w3=01! w2=78 w2=56 w2=34"},
      {255, {RequestFailed}, 2, "w3=01 w2=78! w2=56 w2=34"},
      {255, {RequestFailed}, 2, "w3=01 w2=78 w2=56! w2=34"},
      {255, {RequestFailed}, 2, "w3=01 w2=78 w2=56 w2=34!"}}},
    // The read handle is closed first, then the write handle.
    {"CLOSE", started, [] { return AZQ4810CLOSE(); }, Traced::Ports,
     {{0, {}, 0, ""}, {255, {CloseReadFailed}, 0, ""}, {255, {CloseWriteFailed}, 0, ""}}},
    // A declined first setup deletes the new key again, and does not show a
    // failed deletion.
    {"CHECKIFDRIVER answered Yes", nothing, [] { return AZQ4810CHECKIFDRIVER(); }, Traced::Registry,
     {{1, {FirstSetupQuestion}, 0, "C:ZQ4810 X"}, {255, {CreateServiceKeyFailed}, 0, "C:ZQ4810!"}}},
    {"CHECKIFDRIVER answered No", answeredNo, [] { return AZQ4810CHECKIFDRIVER(); }, Traced::Registry,
     {{-1, {FirstSetupQuestion}, 0, "C:ZQ4810 X D:ZQ4810"},
      {255, {CreateServiceKeyFailed}, 0, "C:ZQ4810!"},
      {-1, {FirstSetupQuestion}, 0, "C:ZQ4810 X D:ZQ4810!"}}},
    {"CHECKIFDRIVER on a present key", serviceKeyPresent, [] { return AZQ4810CHECKIFDRIVER(); }, Traced::Registry,
     {{0, {}, 0, "C:ZQ4810 X"}, {255, {CreateServiceKeyFailed}, 0, "C:ZQ4810!"}}},
    // A failure reaching the services root or creating the event source is
    // shown and the registration goes on; any other stops it. A Parameters
    // key that cannot be created has no notice of its own, only its caller's;
    // a failed parameter value shows its caller's notice twice.
    {"SETBASEADDRESS on a clean machine", nothing, [] { return AZQ4810SETBASEADDRESS(0x300); }, Traced::Registry,
     joined({
         {{0, {RestartWarning}, 0, ServiceKeyWritten + " " + EventSourceWritten + " " + ParametersWritten}},
         ServiceKeyFaults,
         {{0, {SkippingLogEntry, RestartWarning}, 0, ServiceKeyWritten + " O:(services)! " + ParametersWritten},
          {0, {CreateEventKeyFailed, RestartWarning}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810! " + ParametersWritten},
          {255, {SetEventValueFailed, DriverDataFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810 S:EventMessageFile! X"},
          {255, {SetEventValueFailed, DriverDataFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810 S:EventMessageFile S:TypesSupported! X"},
          {255, {RestartWarning, DeviceDataFailed}, 0,
           ServiceKeyWritten + " " + EventSourceWritten + " C:ZQ4810\\Parameters!"},
          {255, {RestartWarning, SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed}, 0,
           ServiceKeyWritten + " " + EventSourceWritten + " C:ZQ4810\\Parameters S:IoPortAddress! X"},
          {255, {RestartWarning, SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed}, 0,
           ServiceKeyWritten + " " + EventSourceWritten + " C:ZQ4810\\Parameters S:IoPortAddress S:IoPortCount! X"}},
     })},
    // The service key exists: no restart warning.
    {"SETBASEADDRESS after CHECKIFDRIVER", serviceKeyPresent, [] { return AZQ4810SETBASEADDRESS(0x2A0); },
     Traced::Registry,
     joined({
         {{0, {}, 0, ServiceKeyWritten + " " + EventSourceWritten + " " + ParametersWritten}},
         ServiceKeyFaults,
         {{0, {SkippingLogEntry}, 0, ServiceKeyWritten + " O:(services)! " + ParametersWritten},
          {0, {CreateEventKeyFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810! " + ParametersWritten},
          {255, {SetEventValueFailed, DriverDataFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810 S:EventMessageFile! X"},
          {255, {SetEventValueFailed, DriverDataFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810 S:EventMessageFile S:TypesSupported! X"},
          {255, {DeviceDataFailed}, 0, ServiceKeyWritten + " " + EventSourceWritten + " C:ZQ4810\\Parameters!"},
          {255, {SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed}, 0,
           ServiceKeyWritten + " " + EventSourceWritten + " C:ZQ4810\\Parameters S:IoPortAddress! X"},
          {255, {SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed}, 0,
           ServiceKeyWritten + " " + EventSourceWritten + " C:ZQ4810\\Parameters S:IoPortAddress S:IoPortCount! X"}},
     })},
    // The event source exists too: its values are not written again.
    {"SETBASEADDRESS again", registered, [] { return AZQ4810SETBASEADDRESS(0x310); }, Traced::Registry,
     joined({
         {{0, {}, 0, ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810 X " + ParametersWritten}},
         ServiceKeyFaults,
         {{0, {SkippingLogEntry}, 0, ServiceKeyWritten + " O:(services)! " + ParametersWritten},
          {0, {CreateEventKeyFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810! " + ParametersWritten},
          {255, {DeviceDataFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810 X C:ZQ4810\\Parameters!"},
          {255, {SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed}, 0,
           ServiceKeyWritten + " O:(services) X C:EventLog\\System\\ZQ4810 X C:ZQ4810\\Parameters S:IoPortAddress! X"},
          {255, {SetDeviceValueFailed, DeviceDataFailed, DeviceDataFailed}, 0,
           ServiceKeyWritten +
               " O:(services) X C:EventLog\\System\\ZQ4810 X C:ZQ4810\\Parameters S:IoPortAddress S:IoPortCount! X"}},
     })},
    {"DELETE on a bare service key", serviceKeyPresent, [] { return AZQ4810DELETE(); }, Traced::Registry,
     {{0, {}, 0, "D:ZQ4810"}, {255, {DeleteServiceFailed}, 0, "D:ZQ4810!"}}},
    // Every deletion runs; a subkey left behind makes the service key's fail too.
    {"DELETEALL after the driver ran", registeredAndRun, [] { return AZQ4810DELETEALL(); }, Traced::Registry,
     {{0, {}, 0, "D:ZQ4810\\Parameters D:ZQ4810\\Enum D:ZQ4810"},
      {510, {DeleteParametersFailed, DeleteServiceFailed}, 0, "D:ZQ4810\\Parameters! D:ZQ4810\\Enum D:ZQ4810!"},
      {510, {DeleteEnumFailed, DeleteServiceFailed}, 0, "D:ZQ4810\\Parameters D:ZQ4810\\Enum! D:ZQ4810!"},
      {255, {DeleteServiceFailed}, 0, "D:ZQ4810\\Parameters D:ZQ4810\\Enum D:ZQ4810!"}}},
};

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.name;
}

class FaultInjectionTest : public LibraryTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultInjectionTest, EveryPlatformCallFailingAloneGivesItsCase)
{
    const Scenario& scenario = GetParam();
    for (size_t k = 0; k < scenario.cases.size(); ++k) {
        SCOPED_TRACE(std::string(scenario.name) + ", failing call " + std::to_string(k));
        const Case& c = scenario.cases[k];
        LibraryTest::SetUp(); // a fresh machine and a closed channel for every run
        scenario.setUp();
        clearRecords();
        if (k > 0) {
            Sim::failCall(Sim::Call::Any, static_cast<int>(k));
        }
        EXPECT_EQ(scenario.call(), c.result);
        if (k == 0) {
            EXPECT_EQ(Sim::callCount(Sim::Call::Any), static_cast<int>(scenario.cases.size()) - 1)
                << "not a case for every platform call";
        }
        EXPECT_EQ(notices(), c.notices);
        EXPECT_EQ(Sim::openDeviceHandles(), c.handles);
        const std::string trace = scenario.traced == Traced::StartParts ? boardStartTrace(c.trace) : c.trace;
        EXPECT_EQ(Sim::trace(), scenario.traced == Traced::Registry ? "" : trace);
        EXPECT_EQ(registryTrace(), scenario.traced == Traced::Registry ? trace : "");
        EXPECT_EQ(Sim::openRegistryKeys(), 0) << "a registry key handle left open";
        // Whatever failed, closing leaves no device handle open.
        Sim::echoNotices(false);
        AZQ4810CLOSE();
        EXPECT_EQ(Sim::openDeviceHandles(), 0);
    }
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

} // namespace
