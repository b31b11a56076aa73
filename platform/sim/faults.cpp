#include "platform/sim/internal.h"

namespace SimFaults {

namespace {

constexpr int KindCount = static_cast<int>(Sim::Call::Any) + 1;

struct Rule {
    int exactly; // fail this call only (1-based), 0 for none
    int from;    // fail this call and all after it, 0 for none
};

constexpr int KeptKinds = 512;

int counts[KindCount];
Rule rules[KindCount];
Sim::Call kinds[KeptKinds];

int index(Sim::Call kind)
{
    return static_cast<int>(kind);
}

bool strikes(const Rule& rule, int count)
{
    return count == rule.exactly || (rule.from > 0 && count >= rule.from);
}

} // namespace

bool hit(Sim::Call kind)
{
    const int own = ++counts[index(kind)];
    const int any = ++counts[index(Sim::Call::Any)];
    if (any <= KeptKinds) {
        kinds[any - 1] = kind;
    }
    return strikes(rules[index(kind)], own) || strikes(rules[index(Sim::Call::Any)], any);
}

void reset()
{
    Sim::resetCounts();
    Sim::clearFaults();
}

} // namespace SimFaults

namespace Sim {

void failCall(Call kind, int k)
{
    SimFaults::rules[SimFaults::index(kind)].exactly = k;
}

void failCallsFrom(Call kind, int k)
{
    SimFaults::rules[SimFaults::index(kind)].from = k;
}

int callCount(Call kind)
{
    return SimFaults::counts[SimFaults::index(kind)];
}

void resetCounts()
{
    for (int& count : SimFaults::counts) {
        count = 0;
    }
}

Call callKind(int k)
{
    if (k < 1 || k > SimFaults::KeptKinds || k > SimFaults::counts[SimFaults::index(Call::Any)]) {
        return Call::Any;
    }
    return SimFaults::kinds[k - 1];
}

void clearFaults()
{
    for (SimFaults::Rule& rule : SimFaults::rules) {
        rule = SimFaults::Rule{0, 0};
    }
}

} // namespace Sim
