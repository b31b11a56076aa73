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

// One library call, shown as NAME(ARGUMENTS) with its result and a note.
int show(const char* name, const char* arguments, int result, const char* note = "")
{
    char call[48];
    std::snprintf(call, sizeof call, "%s(%s)", name, arguments);
    Output::step(call, result, note);
    return result;
}

// The text of a call's one or two arguments.
struct Arguments {
    char text[24];
};

Arguments numbers(int a)
{
    Arguments shown;
    std::snprintf(shown.text, sizeof shown.text, "%d", a);
    return shown;
}

Arguments numbers(int a, int b)
{
    Arguments shown;
    std::snprintf(shown.text, sizeof shown.text, "%d, %d", a, b);
    return shown;
}

Outcome readPositions(int given, int axis, int)
{
    const int first = given == 1 ? axis : 0;
    const int last = given == 1 ? axis : 3;
    for (int a = first; a <= last; ++a) {
        show("AZQ4810READPOSITION", numbers(a).text, AZQ4810READPOSITION(a));
    }
    return Outcome::Done;
}

Outcome resetCounter(int, int axis, int)
{
    show("AZQ4810RESETCOUNTER", numbers(axis).text, AZQ4810RESETCOUNTER(axis));
    return Outcome::Done;
}

Outcome presetWrite(int, int axis, int value)
{
    const int result = AZQ4810PRWRITE(axis, value);
    show("AZQ4810PRWRITE", numbers(axis, value).text, result, result == ZQ4810_SUCCESS ? PresetLoaded : "");
    return Outcome::Done;
}

Outcome setMultiplier(int, int multiplier, int)
{
    show("AZQ4810SETMULTIPLIER", numbers(multiplier).text, AZQ4810SETMULTIPLIER(multiplier));
    return Outcome::Done;
}

Outcome changeMode(int, int selector, int mode)
{
    show("AZQ4810CHANGEMODE", numbers(selector, mode).text, AZQ4810CHANGEMODE(selector, mode));
    return Outcome::Done;
}

Outcome help(int, int, int)
{
    Output::line("%s", ShellHelp);
    return Outcome::Done;
}

Outcome quit(int, int, int)
{
    return Outcome::Quit;
}

// How a command's arguments are read; a line is checked whole before the
// library is called, so a refused line makes no call at all.
using Parse = bool (*)(const char* text, int* value, Args::Error* error);
struct Command {
    const char* name;
    const char* form; // its usage
    int fewest;
    int most;
    Parse first;
    Parse second;
    Outcome (*act)(int given, int first, int second);
};
constexpr Command Table[] = {
    {"read", "read [AXIS]", 0, 1, Args::axis, nullptr, readPositions},
    {"reset", "reset AXIS", 1, 1, Args::axis, nullptr, resetCounter},
    {"preset", "preset AXIS VALUE", 2, 2, Args::axis, Args::preset, presetWrite},
    {"multiplier", "multiplier 1|2|4", 1, 1, Args::multiplier, nullptr, setMultiplier},
    {"mode", "mode SELECTOR VALUE", 2, 2, Args::selector, Args::mode, changeMode},
    {"help", "help", 0, 0, nullptr, nullptr, help},
    {"quit", "quit", 0, 0, nullptr, nullptr, quit},
    {"exit", "exit", 0, 0, nullptr, nullptr, quit},
};

Outcome run(char** words, int count, Args::Error* error)
{
    const char* name = words[0];
    for (const Command& command : Table) {
        if (std::strcmp(name, command.name) != 0) {
            continue;
        }
        const int given = count - 1;
        if (given < command.fewest || given > command.most) {
            std::snprintf(error->text, sizeof error->text, "%s: usage: %s", name, command.form);
            return Outcome::Refused;
        }
        int values[2] = {0, 0};
        const Parse parse[2] = {command.first, command.second};
        for (int i = 0; i < given; ++i) {
            if (!parse[i](words[i + 1], &values[i], error)) {
                return Outcome::Refused;
            }
        }
        return command.act(given, values[0], values[1]);
    }
    std::snprintf(error->text, sizeof error->text, "unknown command '%s' (help lists them)", name);
    return Outcome::Refused;
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
