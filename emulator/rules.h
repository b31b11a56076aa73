// The rules the emulator holds the shipped binaries to: one row each, its
// name and what it asks. A check that finds a rule broken reports it by name
// (breach(..., Rule::X, details)); the first breach stops the emulation, and
// the tests ask which rule it was. Adding a rule is one row here and one
// check where it is seen.
#pragma once

// Every call between the system and the guest, both widths, the DLL and the
// driver alike; then what only a driver is held to, as a driver verifier
// holds it.
#define EMULATOR_RULES(RULE)                                                                                           \
    RULE(StackBalance, "a function removes exactly its own arguments (i386) or leaves the stack as it found it (x64)") \
    RULE(KeptRegisters, "a function keeps the registers its caller owns (ebx, esi, edi, ebp; x64 also r12 to r15)")    \
    RULE(StackAlignment, "x64: the system is called with the stack 16-byte aligned")                                 \
    RULE(ShadowSpace, "x64: the system is called with 32 bytes of shadow space")                                     \
    RULE(RunsToReturn, "a function runs to its return without a fault")                                              \
    RULE(CodeOutside, "no code runs outside the guest's images and the system's functions")                         \
    RULE(CallerOutside, "the system's functions are called from the guest's own code only")                         \
    RULE(Interrupt, "no interrupt but the calls of the system's functions")                                          \
    RULE(UnmappedAccess, "no read or write of memory the guest does not have")                                       \
    RULE(StrayWrite, "writes only to the guest's own data and stack and what the system hands it to fill in")       \
    RULE(SystemArgument, "the system is handed only memory the guest has and may write, and its own handles and objects") \
    RULE(Unsupported, "nothing is asked of the system that the emulator does not serve")                            \
    RULE(CompletedOnce, "a request is completed exactly once")                                                       \
    RULE(CompletedPending, "a request is never completed with STATUS_PENDING")                                       \
    RULE(CompletedUnderLock, "no request is completed while a spin lock is held")                                   \
    RULE(ReturnedStatus, "the dispatch routine returns the status it completed the request with")                   \
    RULE(InformationWithinOutput, "a device-control request's Information is within its output length")            \
    RULE(RequestAfterCompletion, "the request is left untouched after its completion")                              \
    RULE(PassiveLevel, "the driver's routines are entered and left at PASSIVE_LEVEL")                                \
    RULE(SpinLockPairs, "spin locks are taken and released in pairs, the last first, to the level they were taken at") \
    RULE(SpinLockReturned, "no routine returns holding a spin lock")                                                 \
    RULE(KeyLeftOpen, "every registry key is closed before the routine returns")                                    \
    RULE(PortOutsideRequest, "ports are reached only while serving a device-control request")                       \
    RULE(PortWidth, "port accesses are one byte wide")                                                               \
    RULE(PortOutsideRegistered, "ports are reached only inside the registered ones")                                \
    RULE(LeftBehind, "a driver that does not start, or that unloads, leaves no device or link behind")             \
    RULE(ErrorLogObject, "an error log entry is asked for with the driver object or one of its devices")           \
    RULE(ErrorLogSize, "an error log entry holds its header and is no larger than ERROR_LOG_MAXIMUM_SIZE")          \
    RULE(ErrorLogWrittenOnce, "an error log entry is written exactly once, and only one the kernel gave")           \
    RULE(ErrorLogContents, "an error log entry's dump data and strings lie inside it")                              \
    RULE(ErrorLogUnwritten, "no error log entry is left unwritten when a routine returns")

namespace Emulator {

#define EMULATOR_RULE_NAME(name, text) name,
enum class Rule { None, EMULATOR_RULES(EMULATOR_RULE_NAME) };
#undef EMULATOR_RULE_NAME

struct RuleRow {
    const char* name;
    const char* text;
};
#define EMULATOR_RULE_ROW(name, text) {#name, text},
constexpr RuleRow Rules[] = {{"None", "no rule broken"}, EMULATOR_RULES(EMULATOR_RULE_ROW)};
#undef EMULATOR_RULE_ROW
constexpr int RuleCount = sizeof Rules / sizeof Rules[0] - 1;

constexpr const RuleRow& ruleRow(Rule rule) { return Rules[static_cast<int>(rule)]; }

} // namespace Emulator
