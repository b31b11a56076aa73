// selftest and watch: one run of the board each.
#include "2KZQ4810/exports.h"
#include "board/counter_board.h"
#include "tools/zq4810/args.h"
#include "tools/zq4810/commands.h"
#include "tools/zq4810/output.h"
#include "tools/zq4810/session.h"
#include "tools/zq4810/target.h"
#include "tools/zq4810/watch_rate.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace Commands {

namespace {

constexpr int RefreshMilliseconds = 200;

constexpr const char StartFromZero[] = "Counts start from 0: --reset set every counter to 0 first.";
constexpr const char StartFromPattern[] =
    "Counts start from %d (0x%06X): the board start leaves its self-test pattern\n"
    "in every counter. watch --reset starts them from 0.";
constexpr const char CsvHeader[] =
    "time,axis 0,axis 1,axis 2,axis 3,axis 0 per s,axis 1 per s,axis 2 per s,axis 3 per s";
constexpr const char CsvCannotOpen[] = "cannot write %s: %s; name a file in a folder you can write to";
constexpr const char CsvWriteFailed[] =
    "writing %s failed (is the disk full?): the rows in it may be incomplete";

// The count the self-test leaves, as the position read gives it: the
// pattern's three bytes, sign-extended from 24 bits.
int selfTestCount()
{
    const int bits = CounterBoard::SelfTestPattern[0] | CounterBoard::SelfTestPattern[1] << 8 |
                     CounterBoard::SelfTestPattern[2] << 16;
    return bits >= 0x800000 ? bits - 0x1000000 : bits;
}

volatile std::sig_atomic_t interrupted;

void onInterrupt(int)
{
    interrupted = 1;
}

} // namespace

int selftest(int argc, char** argv)
{
    const int refused = noArguments("selftest", argc, argv);
    if (refused != Done) {
        return refused;
    }
    const int mask = Session::open();
    if (mask == Session::NoDevice) {
        return Failed;
    }
    Output::line("  axis  self-test");
    for (int axis = 0; axis < 4; ++axis) {
        Output::line("  %-4d  %s", axis, (mask & (1 << axis)) != 0 ? "FAILED" : "passed");
    }
    Session::close();
    return mask == 0 ? Done : Failed;
}

int watch(int argc, char** argv)
{
    bool reset = false;
    int multiplier = 0;
    int count = 0;
    const char* csvName = nullptr;
    for (int i = 0; i < argc; ++i) {
        Args::Error error;
        const bool takesValue = std::strcmp(argv[i], "--multiplier") == 0 || std::strcmp(argv[i], "--count") == 0 ||
                                std::strcmp(argv[i], "--csv") == 0;
        if (std::strcmp(argv[i], "--reset") == 0) {
            reset = true;
        } else if (takesValue && i + 1 >= argc) {
            return usageError("watch", "%s needs a value", argv[i]);
        } else if (std::strcmp(argv[i], "--multiplier") == 0) {
            if (!Args::multiplier(argv[++i], &multiplier, &error)) {
                return usageError("watch", "%s", error.text);
            }
        } else if (std::strcmp(argv[i], "--count") == 0) {
            if (!Args::count(argv[++i], &count, &error)) {
                return usageError("watch", "%s", error.text);
            }
        } else if (std::strcmp(argv[i], "--csv") == 0) {
            csvName = argv[++i];
        } else {
            return usageError("watch", "unexpected argument '%s'", argv[i]);
        }
    }
    // The file is opened before the board: a name that cannot be written is
    // refused like any other argument, with no library call made.
    std::FILE* csv = nullptr;
    if (csvName != nullptr) {
        csv = std::fopen(csvName, "w");
        if (csv == nullptr) {
            return usageError("watch", CsvCannotOpen, csvName, std::strerror(errno));
        }
    }

    const int mask = Session::open();
    if (mask == Session::NoDevice) {
        if (csv != nullptr) {
            std::fclose(csv);
        }
        return Failed;
    }
    if (reset) {
        char call[40];
        for (int axis = 0; axis < 4; ++axis) {
            std::snprintf(call, sizeof call, "AZQ4810RESETCOUNTER(%d)", axis);
            Output::step(call, AZQ4810RESETCOUNTER(axis), "");
        }
    }
    if (multiplier != 0) {
        char call[40];
        std::snprintf(call, sizeof call, "AZQ4810SETMULTIPLIER(%d)", multiplier);
        Output::step(call, AZQ4810SETMULTIPLIER(multiplier), "");
    }

    const bool inPlace = Target::isTerminal(stdout);
    Target::letAxesDrift();
    interrupted = 0;
    std::signal(SIGINT, onInterrupt);
    if (reset) {
        Output::line("%s", StartFromZero);
    } else {
        Output::line(StartFromPattern, selfTestCount(), static_cast<unsigned>(selfTestCount()) & 0xFFFFFFu);
    }
    Output::line("%10s%9s%10s%9s%10s%9s%10s%9s%s", "axis 0", "per s", "axis 1", "per s", "axis 2", "per s", "axis 3",
                 "per s", inPlace && count == 0 ? "   (Ctrl-C to stop)" : "");
    if (csv != nullptr) {
        std::fprintf(csv, "%s\n", CsvHeader);
        std::fflush(csv);
    }
    int previous[4] = {};
    long long previousTime = 0;
    for (int refresh = 0; interrupted == 0 && (count == 0 || refresh < count); ++refresh) {
        if (refresh > 0) {
            Target::pause(RefreshMilliseconds);
            if (interrupted != 0) {
                break;
            }
        }
        int position[4];
        for (int axis = 0; axis < 4; ++axis) {
            position[axis] = AZQ4810READPOSITION(axis);
        }
        const long long now = Target::milliseconds();
        // The first reading has nothing to compare with: its rates stay blank.
        char rate[4][24] = {};
        for (int axis = 0; axis < 4 && refresh > 0; ++axis) {
            std::snprintf(rate[axis], sizeof rate[axis], "%lld",
                          countsPerSecond(previous[axis], position[axis], now - previousTime));
        }
        std::printf("%s%10d%9s%10d%9s%10d%9s%10d%9s%s", inPlace ? "\r" : "", position[0], rate[0], position[1],
                    rate[1], position[2], rate[2], position[3], rate[3], inPlace ? "" : "\n");
        std::fflush(stdout);
        if (csv != nullptr) {
            char time[32];
            Target::timestamp(time, sizeof time);
            std::fprintf(csv, "%s,%d,%d,%d,%d,%s,%s,%s,%s\n", time, position[0], position[1], position[2],
                         position[3], rate[0], rate[1], rate[2], rate[3]);
            // Each row reaches the file at once, so that it can be followed
            // while it grows and nothing is lost to Ctrl-C.
            std::fflush(csv);
        }
        for (int axis = 0; axis < 4; ++axis) {
            previous[axis] = position[axis];
        }
        previousTime = now;
    }
    std::signal(SIGINT, SIG_DFL);
    if (inPlace) {
        std::fputc('\n', stdout);
    }
    Session::close();
    if (csv != nullptr) {
        const bool written = std::ferror(csv) == 0;
        if (std::fclose(csv) != 0 || !written) {
            Output::complain(CsvWriteFailed, csvName);
            return Failed;
        }
    }
    return Done;
}

} // namespace Commands
