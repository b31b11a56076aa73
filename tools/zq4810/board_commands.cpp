// selftest and watch: one run of the board each.
#include "api/exports.h"
#include "tools/zq4810/args.h"
#include "tools/zq4810/commands.h"
#include "tools/zq4810/output.h"
#include "tools/zq4810/session.h"
#include "tools/zq4810/target.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace Commands {

namespace {

constexpr int RefreshMilliseconds = 200;

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
    for (int i = 0; i < argc; ++i) {
        Args::Error error;
        const bool takesValue =
            std::strcmp(argv[i], "--multiplier") == 0 || std::strcmp(argv[i], "--count") == 0;
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
        } else {
            return usageError("watch", "unexpected argument '%s'", argv[i]);
        }
    }

    const int mask = Session::open();
    if (mask == Session::NoDevice) {
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
    Output::line("      axis 0      axis 1      axis 2      axis 3%s",
                 inPlace && count == 0 ? "   (Ctrl-C to stop)" : "");
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
        std::printf("%s%12d%12d%12d%12d%s", inPlace ? "\r" : "", position[0], position[1], position[2],
                    position[3], inPlace ? "" : "\n");
        std::fflush(stdout);
    }
    std::signal(SIGINT, SIG_DFL);
    if (inPlace) {
        std::fputc('\n', stdout);
    }
    Session::close();
    return Done;
}

} // namespace Commands
