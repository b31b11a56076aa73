// The counter exports on the real request path, each beside the bare system
// calls it makes: an application linked to 2KZQ4810.dll through its import
// library, the DLL reaching the simulated ZQ4810.sys through the system's own
// DeviceIoControl. bench/wine/run registers and starts the driver first.
//
// The bare side does what the library does on the wire and nothing more: its
// own two handles, opened with the same access and sharing, and the same
// requests (control code, offset, byte, input and output lengths) in the same
// order, from one static request area. What is left between the two timings
// is the library's own work: the export, the board layer and the channel.
//
// Each iteration times one export call and one bare equivalent, the order
// swapped every iteration so that drift and caching fall on both alike. Two
// ratios come of a round: the median over its pairs of export / bare time,
// which a call delayed by another process hardly moves, and the ratio of the
// two sides' sums, which such a delay moves a good deal on a busy machine.
// The figures are medians over the rounds. Nothing here judges a timing: the
// exit status is non-zero only when a call gave a result other than the one
// expected (the two sides would then not be doing the same work).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "2KZQ4810/exports.h"
#include "board/counter_board.h"

namespace {

using namespace CounterBoard;

// The device and its requests, as the driver takes them.
constexpr char DeviceName[] = "\\\\.\\ZQ4810Dev";
constexpr DWORD ReadCode = 0;
constexpr DWORD WriteCode = 1;
constexpr DWORD ReadInputLength = 4;
constexpr DWORD WriteInputLength = 5;
constexpr DWORD ReadDataLength = 1;

// ---------------------------------------------------------------------------
// The bare side.

HANDLE bareRead = INVALID_HANDLE_VALUE;
HANDLE bareWrite = INVALID_HANDLE_VALUE;
BYTE bareInput[WriteInputLength];
BYTE bareOutput[ReadDataLength];
DWORD bareReturned;
int bareModeShadow8;
int bareModeShadow9;

bool isOpen(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void putOffset(u32 offset)
{
    bareInput[0] = static_cast<BYTE>(offset);
    bareInput[1] = static_cast<BYTE>(offset >> 8);
    bareInput[2] = static_cast<BYTE>(offset >> 16);
    bareInput[3] = static_cast<BYTE>(offset >> 24);
}

int readBare(u32 offset)
{
    putOffset(offset);
    if (!DeviceIoControl(bareRead, ReadCode, bareInput, ReadInputLength, bareOutput, ReadDataLength,
                         &bareReturned, nullptr)) {
        return 255;
    }
    return bareOutput[0];
}

int writeBare(u32 offset, int value)
{
    putOffset(offset);
    bareInput[4] = static_cast<BYTE>(value);
    return DeviceIoControl(bareWrite, WriteCode, bareInput, WriteInputLength, nullptr, 0, &bareReturned,
                           nullptr)
               ? 0
               : 255;
}

int closeBare()
{
    int result = 0;
    if (!isOpen(bareRead) || !CloseHandle(bareRead)) {
        result += 255;
    }
    if (!isOpen(bareWrite) || !CloseHandle(bareWrite)) {
        result += 255;
    }
    bareRead = INVALID_HANDLE_VALUE;
    bareWrite = INVALID_HANDLE_VALUE;
    return result;
}

// Opening again closes what is open, as the library's board start does.
int initializeBare()
{
    if (isOpen(bareRead)) {
        CloseHandle(bareRead);
    }
    if (isOpen(bareWrite)) {
        CloseHandle(bareWrite);
    }
    bareRead = CreateFileA(DeviceName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bareWrite = CreateFileA(DeviceName, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!isOpen(bareRead) || !isOpen(bareWrite)) {
        return 255;
    }
    bareModeShadow8 = 0;
    bareModeShadow9 = 0;
    writeBare(ModePort8, 0);
    writeBare(ModePort9, 0);
    int failed = 0;
    for (int axis = 0; axis < AxisCount; ++axis) {
        const AxisPorts ports = AxisPortMap[axis];
        writeBare(ports.data, StartupDataByte);
        writeBare(ports.control, Command::StartupSetting1);
        writeBare(ports.control, Command::StartupSetting2);
        writeBare(ports.control, MultiplierCodeTable[4]);
        writeBare(ports.control, Command::ResetCounter);
        writeBare(ports.control, Command::ResetBytePointer);
        for (u8 byte : SelfTestPattern) {
            writeBare(ports.data, byte);
        }
        writeBare(ports.control, Command::LoadCounterFromPreset);
        writeBare(ports.control, Command::LatchCounter);
        writeBare(ports.control, Command::ResetBytePointer);
        for (u8 byte : SelfTestPattern) {
            if (readBare(ports.data) != byte) {
                failed |= 1 << axis;
                break;
            }
        }
    }
    return failed;
}

int readPositionBare(int axis)
{
    const AxisPorts ports = AxisPortMap[axis];
    writeBare(ports.control, Command::LatchCounter);
    writeBare(ports.control, Command::ResetBytePointer);
    const u32 low = static_cast<u8>(readBare(ports.data));
    const u32 middle = static_cast<u8>(readBare(ports.data));
    const u32 high = static_cast<u8>(readBare(ports.data));
    return static_cast<int>((low | middle << 8 | high << 16) << 8) >> 8;
}

int resetCounterBare(int axis)
{
    return writeBare(AxisPortMap[axis].control, Command::ResetCounter);
}

int setMultiplierBare(int multiplier)
{
    int result = 0;
    for (int axis = 0; axis < AxisCount; ++axis) {
        result += writeBare(AxisPortMap[axis].control, MultiplierCodeTable[multiplier]);
    }
    return result;
}

// Selector 4 only: both mode ports, every field the same.
int changeModeAllBare(int mode)
{
    bareModeShadow8 = (mode & 0x0F) * 0x11;
    bareModeShadow9 = bareModeShadow8;
    return writeBare(ModePort8, bareModeShadow8) + writeBare(ModePort9, bareModeShadow9);
}

int presetWriteBare(int axis, int value)
{
    const AxisPorts ports = AxisPortMap[axis];
    const u32 bits = static_cast<u32>(value);
    int result = writeBare(ports.control, Command::ResetBytePointer);
    result += writeBare(ports.data, static_cast<u8>(bits));
    result += writeBare(ports.data, static_cast<u8>(bits >> 8));
    result += writeBare(ports.data, static_cast<u8>(bits >> 16));
    return result;
}

// ---------------------------------------------------------------------------
// The cases: an export call and its bare equivalent, each with an untimed
// step before it where the call needs one (CLOSE needs an open channel).

// The arguments, the same on both sides.
constexpr int PositionAxis = 0;
constexpr int ResetAxis = 2;
constexpr int Multiplier = 2;
constexpr int Mode = 5;
constexpr int PresetAxis = 1;
constexpr int PresetValue = 0x12345678;

int exportInitialize() { return AZQ4810INITIALIZE(); }
int exportReadPosition() { return AZQ4810READPOSITION(PositionAxis); }
int exportResetCounter() { return AZQ4810RESETCOUNTER(ResetAxis); }
int exportSetMultiplier() { return AZQ4810SETMULTIPLIER(Multiplier); }
int exportChangeMode() { return AZQ4810CHANGEMODE(4, Mode); }
int exportPresetWrite() { return AZQ4810PRWRITE(PresetAxis, PresetValue); }
int exportClose() { return AZQ4810CLOSE(); }

int bareReadPosition() { return readPositionBare(PositionAxis); }
int bareResetCounter() { return resetCounterBare(ResetAxis); }
int bareSetMultiplier() { return setMultiplierBare(Multiplier); }
int bareChangeMode() { return changeModeAllBare(Mode); }
int barePresetWrite() { return presetWriteBare(PresetAxis, PresetValue); }

struct Case {
    const char* name;
    int systemCalls;     // on one call's path; bench/wine/run checks the count
    int iterations;      // per round
    int (*before)();     // untimed, on the export's side (or null)
    int (*run)();
    int (*beforeBare)(); // untimed, on the bare side (or null)
    int (*runBare)();
    int expected;        // the result both sides must give
};

// READPOSITION reads axis 0, which keeps the pattern the board start loaded:
// no case changes its counter.
constexpr int PatternCount = 0xDA5712 - 0x1000000;

constexpr Case Cases[] = {
    {"INITIALIZE (again)", 66, 60, nullptr, exportInitialize, nullptr, initializeBare, 0},
    {"READPOSITION(0)", 5, 600, nullptr, exportReadPosition, nullptr, bareReadPosition, PatternCount},
    {"RESETCOUNTER(2)", 1, 2000, nullptr, exportResetCounter, nullptr, bareResetCounter, 0},
    {"SETMULTIPLIER(2)", 4, 800, nullptr, exportSetMultiplier, nullptr, bareSetMultiplier, 0},
    {"CHANGEMODE(4, 5)", 2, 1200, nullptr, exportChangeMode, nullptr, bareChangeMode, 0},
    {"PRWRITE(1, 0x12345678)", 4, 800, nullptr, exportPresetWrite, nullptr, barePresetWrite, 0},
    // Each iteration starts the board on both sides, untimed, to have
    // something to close.
    {"CLOSE", 2, 100, exportInitialize, exportClose, initializeBare, closeBare, 0},
};

constexpr int MaxRounds = 101;

LARGE_INTEGER frequency;
int unexpected;

long long now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

void check(const Case& c, const char* side, int result)
{
    if (result != c.expected && unexpected++ < 10) {
        std::printf("  %s, %s side: result %d, expected %d\n", c.name, side, result, c.expected);
    }
}

// One side's call, timed; its untimed step first.
long long timeOne(const Case& c, bool bare)
{
    int (*before)() = bare ? c.beforeBare : c.before;
    if (before != nullptr) {
        before();
    }
    const long long began = now();
    const int result = bare ? c.runBare() : c.run();
    const long long took = now() - began;
    check(c, bare ? "bare" : "export", result);
    return took;
}

double median(double* values, int count)
{
    std::sort(values, values + count);
    return count % 2 == 1 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

constexpr int MaxScale = 10;
constexpr int MaxIterations = 2000 * MaxScale;

struct Round {
    long long exportTicks;
    long long bareTicks;
    double pairRatio; // the median over the round's pairs of export / bare
};

Round runRound(const Case& c, int iterations)
{
    static double pairs[MaxIterations];
    Round round = {0, 0, 0};
    for (int i = 0; i < iterations; ++i) {
        long long exportTook;
        long long bareTook;
        if (i % 2 == 0) {
            exportTook = timeOne(c, false);
            bareTook = timeOne(c, true);
        } else {
            bareTook = timeOne(c, true);
            exportTook = timeOne(c, false);
        }
        round.exportTicks += exportTook;
        round.bareTicks += bareTook;
        pairs[i] = static_cast<double>(exportTook) / static_cast<double>(bareTook > 0 ? bareTook : 1);
    }
    round.pairRatio = median(pairs, iterations);
    return round;
}

double microseconds(long long ticks)
{
    return static_cast<double>(ticks) * 1e6 / static_cast<double>(frequency.QuadPart);
}

constexpr int CaseCount = sizeof Cases / sizeof Cases[0];

// Per case and round: the ratio of the two sides' sums, the median ratio of
// the round's pairs, and each side's time per call in microseconds.
struct Figures {
    double sumRatio[MaxRounds];
    double pairRatio[MaxRounds];
    double exportTime[MaxRounds];
    double bareTime[MaxRounds];
};
Figures figures[CaseCount];

void measure(int index, int round, int scale)
{
    const Case& c = Cases[index];
    const int iterations = c.iterations * scale;
    const Round sums = runRound(c, iterations);
    Figures& f = figures[index];
    f.sumRatio[round] = static_cast<double>(sums.exportTicks) / static_cast<double>(sums.bareTicks);
    f.pairRatio[round] = sums.pairRatio;
    f.exportTime[round] = microseconds(sums.exportTicks) / iterations;
    f.bareTime[round] = microseconds(sums.bareTicks) / iterations;
}

void report(int index, int rounds)
{
    const Case& c = Cases[index];
    Figures& f = figures[index];
    const double exportTime = median(f.exportTime, rounds);
    const double bareTime = median(f.bareTime, rounds);
    const double pairRatio = median(f.pairRatio, rounds);
    const double sumRatio = median(f.sumRatio, rounds);
    // median() sorted them.
    std::printf("%-24s %4d %9.1f %9.1f %7.1f %7.4f %7.4f %7.4f..%.4f\n", c.name, c.systemCalls, exportTime, bareTime,
                bareTime / c.systemCalls, pairRatio, sumRatio, f.sumRatio[0], f.sumRatio[rounds - 1]);
}

int registerDriver()
{
    const int present = AZQ4810CHECKIFDRIVER();
    const int written = AZQ4810SETBASEADDRESS(0x300);
    std::printf("AZQ4810CHECKIFDRIVER() = %d, AZQ4810SETBASEADDRESS(0x300) = %d\n", present, written);
    return present == 1 && written == 0 ? 0 : 1;
}

// The library's channel open with the board started, and the bare side's
// handles open beside it, as both are during the counter exports.
int openBoth()
{
    const int library = AZQ4810INITIALIZE();
    const int bare = initializeBare();
    if (library != 0 || bare != 0) {
        std::printf("board start: library %d, bare %d (expected 0 and 0)\n", library, bare);
        return 1;
    }
    return 0;
}

// Each case's two sides once, between markers a tracer can find: the
// system calls each side makes, for bench/wine/run to compare with each
// other and with the count the timing divides by.
int traceOnce()
{
    if (openBoth() != 0) {
        return 1;
    }
    char marker[64];
    for (const Case& c : Cases) {
        for (int bare = 0; bare < 2; ++bare) {
            int (*before)() = bare ? c.beforeBare : c.before;
            if (before != nullptr) {
                before();
            }
            std::snprintf(marker, sizeof marker, "bench: begin %s %d %s", bare ? "bare" : "export", c.systemCalls,
                          c.name);
            OutputDebugStringA(marker);
            check(c, bare ? "bare" : "export", bare ? c.runBare() : c.run());
            std::snprintf(marker, sizeof marker, "bench: end %s %s", bare ? "bare" : "export", c.name);
            OutputDebugStringA(marker);
        }
    }
    // The last case, CLOSE, left both sides closed.
    return unexpected == 0 ? 0 : 1;
}

int run(int rounds, int scale)
{
    QueryPerformanceFrequency(&frequency);
    if (openBoth() != 0) {
        return 1;
    }
    std::printf("%d rounds; QueryPerformanceCounter at %lld Hz\n", rounds,
                static_cast<long long>(frequency.QuadPart));
    // The rounds outermost, so that every case sees the machine's busy and
    // quiet spells alike.
    for (int round = 0; round < rounds; ++round) {
        for (int index = 0; index < CaseCount; ++index) {
            measure(index, round, scale);
            // CLOSE leaves both sides closed; the next case wants them open.
            if (!isOpen(bareRead) && openBoth() != 0) {
                return 1;
            }
        }
        std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }
    std::printf("%-24s %4s %9s %9s %7s %7s %7s %16s\n", "export", "sys", "export us", "bare us", "us/sys",
                "pairs", "sums", "sums' range");
    for (int index = 0; index < CaseCount; ++index) {
        report(index, rounds);
    }
    AZQ4810CLOSE();
    closeBare();
    if (unexpected != 0) {
        std::printf("%d calls gave an unexpected result: the two sides did not do the same work\n", unexpected);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "register") == 0) {
        return registerDriver();
    }
    if (argc == 2 && std::strcmp(argv[1], "trace") == 0) {
        return traceOnce();
    }
    if (argc >= 2 && argc <= 4 && std::strcmp(argv[1], "run") == 0) {
        const int rounds = argc >= 3 ? std::atoi(argv[2]) : 21;
        const int scale = argc >= 4 ? std::atoi(argv[3]) : 1;
        if (rounds >= 1 && rounds <= MaxRounds && scale >= 1 && scale <= MaxScale) {
            return run(rounds, scale);
        }
    }
    std::fprintf(stderr, "usage: zq4810_wine_bench register | trace | run [ROUNDS (1..%d) [SCALE (1..%d)]]\n",
                 MaxRounds, MaxScale);
    return 2;
}
