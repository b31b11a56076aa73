// Registry faults and the registry call log, shared by the simulated registry
// on the host and by the wrappers around the real registry under Windows.
#include "platform/sim/internal.h"
#include "platform/sim/record_log.h"
#include "platform/sim/text.h"

namespace {

constexpr int MaxRules = 8;
constexpr int NameSize = 200;
constexpr int MaxCalls = 64;

struct RuleList {
    char names[MaxRules][NameSize];
    int count;
};

RuleList createRules;
RuleList openRules;
RuleList setRules;
RuleList deleteRules;

Sim::RecordLog<Sim::RegistryCall, MaxCalls> calls;

// The length of a name without a trailing backslash.
int trimmedLength(const char* name)
{
    const int n = SimText::length(name);
    return n > 0 && name[n - 1] == '\\' ? n - 1 : n;
}

// Registry names compare without regard to case; a trailing backslash names
// the same key.
bool sameName(const char* a, const char* b)
{
    const int n = trimmedLength(a);
    if (n != trimmedLength(b)) {
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if (SimText::upper(a[i]) != SimText::upper(b[i])) {
            return false;
        }
    }
    return true;
}

void add(RuleList& list, const char* name)
{
    if (list.count < MaxRules) {
        SimText::copy(list.names[list.count++], NameSize, name);
    }
}

bool listed(const RuleList& list, const char* name)
{
    for (int i = 0; i < list.count; ++i) {
        if (sameName(list.names[i], name != nullptr ? name : "")) {
            return true;
        }
    }
    return false;
}

bool strikes(Sim::Call kind, const RuleList& list, const char* name)
{
    const bool byNumber = SimFaults::hit(kind);
    return byNumber || listed(list, name);
}

} // namespace

namespace SimRegistryFaults {

bool create(const char* path)
{
    return strikes(Sim::Call::RegistryCreate, createRules, path);
}

bool open(const char* path)
{
    return strikes(Sim::Call::RegistryOpen, openRules, path);
}

bool set(const char* valueName)
{
    return strikes(Sim::Call::RegistrySet, setRules, valueName);
}

bool remove(const char* path)
{
    return strikes(Sim::Call::RegistryDelete, deleteRules, path);
}

Sim::RegistryCall callOn(char operation)
{
    Sim::RegistryCall call{};
    call.operation = operation;
    return call;
}

Sim::RegistryCall createCall(DWORD reserved, LPCSTR keyClass, DWORD options, REGSAM access,
                             LPSECURITY_ATTRIBUTES security)
{
    Sim::RegistryCall call = callOn('C');
    call.access = access;
    call.options = options;
    call.classGiven = keyClass != nullptr;
    call.securityGiven = security != nullptr;
    call.reserved = reserved;
    return call;
}

LSTATUS finish(Sim::RegistryCall& call, LSTATUS result)
{
    call.result = result;
    if (Sim::RegistryCall* slot = calls.add()) {
        *slot = call;
    }
    return result;
}

void reset()
{
    createRules.count = 0;
    openRules.count = 0;
    setRules.count = 0;
    deleteRules.count = 0;
    calls.clear();
}

} // namespace SimRegistryFaults

namespace Sim {

void failRegistryCreate(const char* path)
{
    add(createRules, path);
}

void failRegistryOpen(const char* path)
{
    add(openRules, path);
}

void failRegistrySet(const char* valueName)
{
    add(setRules, valueName);
}

void failRegistryDelete(const char* path)
{
    add(deleteRules, path);
}

int registryCallCount()
{
    return calls.count();
}

void clearRegistryCalls()
{
    calls.clear();
}

RegistryCall registryCall(int index)
{
    return calls.at(index);
}

} // namespace Sim
