// shell: counter commands, one per line, on one run of the board. Scripts
// pipe commands in; on a terminal it prompts.
#include "2KZQ4810/exports.h"
#include "tools/zq4810/args.h"
#include "tools/zq4810/commands.h"
#include "tools/zq4810/output.h"
#include "tools/zq4810/session.h"
#include "tools/zq4810/target.h"

#include <cstdio>
#include <cstring>

namespace Commands {

// The shell's help, and the list its own help command prints.
const char ShellHelp[] =
    "  read [AXIS]           latch and show the count of one axis (0..3), or of all four;\n"
    "                        after the board start each count is the self-test pattern\n"
    "  reset AXIS            set the axis's count to 0\n"
    "  preset AXIS VALUE     load the axis's preset register (-8388608..16777215); the\n"
    "                        count stays as it is: none of these commands loads the\n"
    "                        counter from the preset\n"
    "  multiplier 1|2|4      counts per encoder cycle from now on, every axis (the board\n"
    "                        starts at 4); the counts stay as they are\n"
    "  mode SELECTOR VALUE   set mode field SELECTOR (0..3, or 4 for all) to VALUE (0..15);\n"
    "                        the counts stay as they are\n"
    "  help                  list these commands\n"
    "  quit                  stop reading commands and close the device";

// What a preset does not do is the surprise: a read after it shows the old count.
constexpr const char PresetLoaded[] = "preset register loaded; the count is unchanged";

namespace {

constexpr int MaxWords = 4;

enum class Outcome { Done, Refused, Quit };

// Splits the line in place into at most MaxWords words; one more word than
// that still counts, so that "too many arguments" can be told.
int split(char* line, char** words)
{
    int count = 0;
    for (char* word = std::strtok(line, " \t\r\n"); word != nullptr; word = std::strtok(nullptr, " \t\r\n")) {
        if (count == MaxWords + 1) {
            break;
        }
        words[count++] = word;
    }
    return count;
}

void readAxis(int axis)
{
    char call[40];
    std::snprintf(call, sizeof call, "AZQ4810READPOSITION(%d)", axis);
    Output::step(call, AZQ4810READPOSITION(axis), "");
}

Outcome run(char** words, int count, Args::Error* error)
{
    const char* name = words[0];
    char call[48];
    int a = 0;
    int b = 0;
    // Each command checks its whole line before it calls the library, so a
    // refused line makes no call at all.
    auto arity = [&](int low, int high, const char* form) {
        if (count - 1 < low || count - 1 > high) {
            std::snprintf(error->text, sizeof error->text, "%s: usage: %s", name, form);
            return false;
        }
        return true;
    };
    if (std::strcmp(name, "read") == 0) {
        if (!arity(0, 1, "read [AXIS]")) {
            return Outcome::Refused;
        }
        if (count == 2) {
            if (!Args::axis(words[1], &a, error)) {
                return Outcome::Refused;
            }
            readAxis(a);
        } else {
            for (int axis = 0; axis < 4; ++axis) {
                readAxis(axis);
            }
        }
    } else if (std::strcmp(name, "reset") == 0) {
        if (!arity(1, 1, "reset AXIS") || !Args::axis(words[1], &a, error)) {
            return Outcome::Refused;
        }
        std::snprintf(call, sizeof call, "AZQ4810RESETCOUNTER(%d)", a);
        Output::step(call, AZQ4810RESETCOUNTER(a), "");
    } else if (std::strcmp(name, "preset") == 0) {
        if (!arity(2, 2, "preset AXIS VALUE") || !Args::axis(words[1], &a, error) ||
            !Args::preset(words[2], &b, error)) {
            return Outcome::Refused;
        }
        std::snprintf(call, sizeof call, "AZQ4810PRWRITE(%d, %d)", a, b);
        const int result = AZQ4810PRWRITE(a, b);
        Output::step(call, result, result == ZQ4810_SUCCESS ? PresetLoaded : "");
    } else if (std::strcmp(name, "multiplier") == 0) {
        if (!arity(1, 1, "multiplier 1|2|4") || !Args::multiplier(words[1], &a, error)) {
            return Outcome::Refused;
        }
        std::snprintf(call, sizeof call, "AZQ4810SETMULTIPLIER(%d)", a);
        Output::step(call, AZQ4810SETMULTIPLIER(a), "");
    } else if (std::strcmp(name, "mode") == 0) {
        if (!arity(2, 2, "mode SELECTOR VALUE") || !Args::selector(words[1], &a, error) ||
            !Args::mode(words[2], &b, error)) {
            return Outcome::Refused;
        }
        std::snprintf(call, sizeof call, "AZQ4810CHANGEMODE(%d, %d)", a, b);
        Output::step(call, AZQ4810CHANGEMODE(a, b), "");
    } else if (std::strcmp(name, "help") == 0) {
        if (!arity(0, 0, "help")) {
            return Outcome::Refused;
        }
        Output::line("%s", ShellHelp);
    } else if (std::strcmp(name, "quit") == 0 || std::strcmp(name, "exit") == 0) {
        if (!arity(0, 0, name)) {
            return Outcome::Refused;
        }
        return Outcome::Quit;
    } else {
        std::snprintf(error->text, sizeof error->text, "unknown command '%s' (help lists them)", name);
        return Outcome::Refused;
    }
    return Outcome::Done;
}

} // namespace

int shell(int argc, char** argv)
{
    const int refused = noArguments("shell", argc, argv);
    if (refused != Done) {
        return refused;
    }
    const bool prompt = Target::isTerminal(stdin);
    const int mask = Session::open();
    if (mask == Session::NoDevice) {
        return Failed;
    }
    if (prompt) {
        Output::line("Type help for the commands.");
    }
    Target::letAxesDrift();

    bool anyRefused = false;
    char line[256];
    for (int number = 1;; ++number) {
        if (prompt) {
            std::fputs("zq4810> ", stdout);
            std::fflush(stdout);
        }
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            if (prompt) {
                std::fputc('\n', stdout);
            }
            break;
        }
        if (std::strchr(line, '\n') == nullptr && !std::feof(stdin)) {
            // The rest of an overlong line is skipped with it.
            int c = 0;
            while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
            }
            Output::complain("line %d: longer than %d characters", number, static_cast<int>(sizeof line) - 2);
            anyRefused = true;
            continue;
        }
        char* comment = std::strchr(line, '#');
        if (comment != nullptr) {
            *comment = '\0';
        }
        char* words[MaxWords + 1];
        const int count = split(line, words);
        if (count == 0) {
            continue;
        }
        Args::Error error;
        const Outcome outcome = run(words, count, &error);
        if (outcome == Outcome::Quit) {
            break;
        }
        if (outcome == Outcome::Refused) {
            Output::complain("line %d: %s", number, error.text);
            anyRefused = true;
        }
    }
    Session::close();
    return anyRefused ? BadInput : Done;
}

} // namespace Commands
