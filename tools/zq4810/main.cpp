// zq4810: drives the counter board through the library's eleven exports, the
// way an application does. Installation, a self-test, a live readout of the
// four counters, an interactive shell and a demo of a board's whole life.
#include "tools/zq4810/commands.h"
#include "tools/zq4810/output.h"
#include "tools/zq4810/target.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#ifndef ZQ4810_VERSION
#define ZQ4810_VERSION "unknown"
#endif

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    const char* details;
    const char* list; // printed after the details, or null
    int (*run)(int argc, char** argv);
};

constexpr Command CommandTable[] = {
    {"install", "install BASE", "register the board's driver with its base I/O address",
     "Asks the library whether the driver's service is registered (on a first setup it\n"
     "creates the registration and asks whether to go on), then writes the service's\n"
     "start values and BASE, the board's first I/O port, for the driver.\n"
     "BASE: 0..0xFFF0, decimal or hexadecimal (0x300): the board takes 16 ports from\n"
     "BASE on, and the driver starts it only where they all lie below 0x10000.\n"
     "The driver reads BASE when it starts: a first setup and any new base take\n"
     "effect after the next restart.",
     nullptr, Commands::install},
    {"remove", "remove", "remove the driver's registration",
     "Removes the driver's service key with its Parameters and Enum subkeys and\n"
     "reports how many of the removal steps failed. Where the driver is not\n"
     "registered it says so and changes nothing (exit status 0).",
     nullptr, Commands::remove},
    {"selftest", "selftest", "open the board, run its self-test, show each axis",
     "Opens the device and starts the board, whose loop-back self-test checks every\n"
     "axis, shows which axes passed and closes the device again. Exit status 1 when\n"
     "an axis failed or the device could not be opened.",
     nullptr, Commands::selftest},
    {"watch", "watch [--reset] [--multiplier 1|2|4] [--count N] [--csv FILE]", "show the four counters live",
     "Opens and starts the board once, optionally resets the counters (--reset) and\n"
     "sets the count multiplier, then shows the four counters, each with its counts\n"
     "per second since the refresh before, several times a second until Ctrl-C, or\n"
     "N times (--count N), and closes the device.\n"
     "The board start leaves the self-test pattern in every counter, so without\n"
     "--reset the counts start from it; with --reset they start from 0.\n"
     "--csv FILE also writes FILE (replaced if it exists): a header row, then one\n"
     "row per refresh with the time, the four counts and the four rates.\n"
     "On a terminal the readout is refreshed in place; otherwise each refresh is\n"
     "one line.",
     nullptr, Commands::watch},
    {"shell", "shell", "run counter commands read from standard input",
     "Opens and starts the board once, then runs one command per line from\n"
     "standard input and prints each call's result, and closes the device at the\n"
     "end of input. A refused line is reported and skipped, and the exit status is\n"
     "then 2. Commands:",
     Commands::ShellHelp, Commands::shell},
    {"demo", "demo", "the whole life of a board, step by step",
     "Registers the driver, starts the board, counts, moves the axes, reads, resets,\n"
     "sets presets and modes, closes and removes the registration, printing each\n"
     "library call with its result. On the simulated platform the encoder motion is\n"
     "applied by the simulator; on a real machine the motion steps are skipped, and\n"
     "the demo really registers the driver and removes its registration again.\n"
     "So it runs only where the driver is not registered, and removes only what it\n"
     "registered itself; on a machine with a registration it changes nothing and\n"
     "exits with status 2: try the board there with selftest and watch.",
     nullptr, Commands::demo},
};

const Command* find(const char* name)
{
    for (const Command& command : CommandTable) {
        if (std::strcmp(command.name, name) == 0) {
            return &command;
        }
    }
    return nullptr;
}

constexpr int SynopsisWidth = 21;

void printUsage(std::FILE* to)
{
    std::fprintf(to, "usage: zq4810 COMMAND [ARGUMENTS]   (zq4810 COMMAND --help: about one command)\n"
                     "       zq4810 --help | --version\n"
                     "commands:\n");
    for (const Command& command : CommandTable) {
        // A synopsis too long for its column has its summary on the next line.
        const bool fits = std::strlen(command.synopsis) < SynopsisWidth;
        std::fprintf(to, "  %-*s%s%s\n", SynopsisWidth, command.synopsis, fits ? " " : "\n                        ",
                     command.summary);
    }
}

void printHelp()
{
    std::printf("zq4810 drives the four-axis counter board through the 2KZQ4810 library, as an\n"
                "application does.\n\n");
    printUsage(stdout);
    std::printf("\nExit status: 0 done, 1 the board or the library reported a failure, 2 refused\n"
                "input. Notices the library shows appear as they are shown.\n");
}

void printCommandHelp(const Command& command)
{
    std::printf("usage: zq4810 %s\n\n%s\n", command.synopsis, command.details);
    if (command.list != nullptr) {
        std::printf("%s\n", command.list);
    }
}

bool isHelp(const char* argument)
{
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

int refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
int refuse(const char* format, ...)
{
    std::fputs("zq4810: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    printUsage(stderr);
    return Commands::BadInput;
}

} // namespace

namespace Commands {

int usageError(const char* command, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Output::complainList(format, arguments);
    va_end(arguments);
    const Command* known = find(command);
    if (known != nullptr) {
        std::fprintf(stderr, "usage: zq4810 %s\n", known->synopsis);
    }
    return BadInput;
}

int noArguments(const char* command, int argc, char** argv)
{
    if (argc > 0) {
        return usageError(command, "%s takes no arguments, got '%s'", command, argv[0]);
    }
    return Done;
}

} // namespace Commands

int main(int argc, char** argv)
{
    const char* problem = Target::prepare();
    if (problem != nullptr) {
        Output::complain("%s", problem);
        return Commands::BadInput;
    }
    if (argc < 2) {
        return refuse("no command given");
    }
    const char* first = argv[1];
    if (isHelp(first)) {
        // "zq4810 --help COMMAND" is the command's own help.
        const Command* about = argc == 3 ? find(argv[2]) : nullptr;
        if (argc > 2 && about == nullptr) {
            return refuse("unexpected argument '%s'", argv[2]);
        }
        if (about != nullptr) {
            printCommandHelp(*about);
        } else {
            printHelp();
        }
        return Commands::Done;
    }
    if (std::strcmp(first, "--version") == 0) {
        if (argc > 2) {
            return refuse("unexpected argument '%s'", argv[2]);
        }
        std::printf("zq4810 %s\n", ZQ4810_VERSION);
        return Commands::Done;
    }
    const Command* command = find(first);
    if (command == nullptr) {
        return first[0] == '-' ? refuse("unknown option '%s'", first) : refuse("unknown command '%s'", first);
    }
    for (int i = 2; i < argc; ++i) {
        if (isHelp(argv[i])) {
            printCommandHelp(*command);
            return Commands::Done;
        }
    }
    return command->run(argc - 2, argv + 2);
}
