// zq4810 run as a process, as a user or a script runs it. The simulated
// platform behind it is set up through ZQ4810_SIM; its "report" setting
// prints the platform calls and notices of the whole run, which is how these
// tests see that refused input never reached the library.
#include "board/counter_board.h"
#include "tools/zq4810/watch_rate.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string folder();

void removeFolder()
{
    for (const char* name : {"/in", "/out", "/err"}) {
        std::remove((folder() + name).c_str());
    }
    rmdir(folder().c_str());
}

// A folder of this process's own for the runs' input and output.
std::string folder()
{
    static std::string path;
    if (path.empty()) {
        char pattern[] = "/tmp/zq4810-tool-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made != nullptr ? made : "/tmp";
        if (made != nullptr) {
            std::atexit(removeFolder);
        }
    }
    return path;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Runs the tool with these arguments (a shell word list), the simulator
// settings and this standard input, with the report of platform calls on.
Result run(const std::string& arguments, const std::string& settings = "still", const std::string& input = "")
{
    const std::string in = folder() + "/in";
    const std::string out = folder() + "/out";
    const std::string err = folder() + "/err";
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = "ZQ4810_SIM=" + quoted(settings.empty() ? "report" : settings + ",report") +
                                " " + ZQ4810_TOOL + " " + arguments + " <" + in + " >" + out + " 2>" + err;
    const int status = std::system(command.c_str());
    return Result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

// The report line the simulator prints at exit.
std::string report(const Result& run)
{
    const size_t at = run.err.rfind("[sim] ");
    return at == std::string::npos ? std::string("(no report)") : run.err.substr(at, run.err.find('\n', at) - at);
}

#define BaseRange "0..0xFFF0, where the board's 16 ports end by port 0xFFFF"

constexpr const char NoCalls[] = "[sim] platform calls 0 (device 0, registry 0), notices 0";

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// ---- help and version --------------------------------------------------------

TEST(ToolHelp, EveryHelpListsEveryCommandAndTheToolsCallsNothing)
{
    const Result r = run("--help");
    EXPECT_EQ(0, r.status);
    for (const char* command : {"install BASE", "remove", "selftest", "watch [--reset]", "shell", "demo"}) {
        EXPECT_TRUE(contains(r.out, "\n  " + std::string(command))) << command;
    }
    EXPECT_EQ(NoCalls, report(r));
    EXPECT_EQ("zq4810 1.0.0\n", run("--version").out);
    // The shell's commands, in its own help and in the tool's help of it.
    const std::string inShell = run("shell", "still", "help\n").out;
    const std::string ofShell = run("shell --help").out;
    for (const char* command :
         {"read [AXIS]", "reset AXIS", "preset AXIS VALUE", "multiplier 1|2|4", "mode SELECTOR VALUE", "help", "quit"}) {
        EXPECT_TRUE(contains(inShell, "\n  " + std::string(command) + " ")) << command;
        EXPECT_TRUE(contains(ofShell, "\n  " + std::string(command) + " ")) << command;
    }
}

TEST(ToolHelp, EachCommandHasItsOwnHelpWhereverTheOptionStands)
{
    for (const char* line : {"install --help", "remove --help", "selftest --help", "watch --count 3 --help",
                             "shell --help", "demo -h", "--help shell"}) {
        const Result r = run(line);
        const std::string words = line;
        const std::string name = words.rfind("--help ", 0) == 0 ? words.substr(7) : words.substr(0, words.find(' '));
        EXPECT_EQ(0, r.status) << line;
        EXPECT_EQ("usage: zq4810 " + name, firstLine(r.out).substr(0, 14 + name.size())) << line;
        EXPECT_EQ(NoCalls, report(r)) << line;
    }
}

// ---- refused command lines ----------------------------------------------------

TEST(ToolCommandLine, RefusedInputGivesOneLineUsageAndStatusTwoWithoutALibraryCall)
{
    struct Case {
        const char* arguments;
        const char* message;
        const char* usage;
    };
    const Case cases[] = {
        {"", "no command given", "usage: zq4810 COMMAND [ARGUMENTS]"},
        {"frob", "unknown command 'frob'", "usage: zq4810 COMMAND [ARGUMENTS]"},
        {"--frob", "unknown option '--frob'", "usage: zq4810 COMMAND [ARGUMENTS]"},
        {"--version 2", "unexpected argument '2'", "usage: zq4810 COMMAND [ARGUMENTS]"},
        {"--help frob", "unexpected argument 'frob'", "usage: zq4810 COMMAND [ARGUMENTS]"},
        {"selftest now", "selftest takes no arguments, got 'now'", "usage: zq4810 selftest"},
        {"remove all", "remove takes no arguments, got 'all'", "usage: zq4810 remove"},
        {"shell x", "shell takes no arguments, got 'x'", "usage: zq4810 shell"},
        {"demo x", "demo takes no arguments, got 'x'", "usage: zq4810 demo"},
        {"install", "install needs the base address", "usage: zq4810 install BASE"},
        {"install 0x300 1", "unexpected argument '1'", "usage: zq4810 install BASE"},
        {"install 0x", "base address '0x' is not a number", "usage: zq4810 install BASE"},
        {"install 3OO", "base address '3OO' is not a number", "usage: zq4810 install BASE"},
        {"install 4294967296", "base address 4294967296 is out of the 32-bit range", "usage: zq4810 install BASE"},
        {"install 0x100000000", "base address 0x100000000 is out of the 32-bit range", "usage: zq4810 install BASE"},
        {"install 99999999999999999999", "base address 99999999999999999999 is out of the 32-bit range",
         "usage: zq4810 install BASE"},
        {"install -2147483649", "base address -2147483649 is out of the 32-bit range", "usage: zq4810 install BASE"},
        // The driver starts the board only where its 16 ports end by 0xFFFF.
        {"install -2147483648", "base address -2147483648 is outside " BaseRange, "usage: zq4810 install BASE"},
        {"install -1", "base address -1 is outside " BaseRange, "usage: zq4810 install BASE"},
        {"install 0xFFF1", "base address 0xFFF1 is outside " BaseRange, "usage: zq4810 install BASE"},
        {"install 0xFFFF", "base address 0xFFFF is outside " BaseRange, "usage: zq4810 install BASE"},
        {"install 65536", "base address 65536 is outside " BaseRange, "usage: zq4810 install BASE"},
        {"install 0x7FFFFFFF", "base address 0x7FFFFFFF is outside " BaseRange, "usage: zq4810 install BASE"},
        {"watch --multiplier 3", "multiplier 3 is not 1, 2 or 4", "usage: zq4810 watch"},
        {"watch --multiplier", "--multiplier needs a value", "usage: zq4810 watch"},
        {"watch --count 0", "count 0 is outside 1..2147483647", "usage: zq4810 watch"},
        {"watch --count x", "count 'x' is not a number", "usage: zq4810 watch"},
        {"watch --count 2147483648", "count 2147483648 is out of the 32-bit range", "usage: zq4810 watch"},
        {"watch --fast", "unexpected argument '--fast'", "usage: zq4810 watch"},
        {"watch 3", "unexpected argument '3'", "usage: zq4810 watch"},
        {"watch --csv", "--csv needs a value", "usage: zq4810 watch"},
        {"watch --csv /nonexistent-folder/x.csv",
         "cannot write /nonexistent-folder/x.csv: No such file or directory; name a file in a folder you can write to",
         "usage: zq4810 watch"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.arguments);
        EXPECT_EQ(2, r.status) << c.arguments;
        EXPECT_EQ("", r.out) << c.arguments;
        const std::vector<std::string> err = lines(r.err);
        ASSERT_GE(err.size(), 3u) << c.arguments;
        EXPECT_EQ(std::string("zq4810: ") + c.message, err[0]) << c.arguments;
        EXPECT_EQ(c.usage, err[1].substr(0, std::string(c.usage).size())) << c.arguments;
        EXPECT_EQ(NoCalls, report(r)) << c.arguments;
    }
}

TEST(ToolCommandLine, AnUnknownSimulatorSettingIsRefusedBeforeAnyCall)
{
    const Result r = run("selftest", "still,bogus");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("zq4810: ZQ4810_SIM: unknown setting 'bogus'", firstLine(r.err));
    EXPECT_EQ("", r.out);
}

// ---- install and remove ------------------------------------------------------

TEST(ToolInstall, InstallAndRemoveSayPlainlyWhatHappened)
{
    struct Case {
        const char* arguments; // install's base also in decimal: the same port
        const char* settings;
        int status;
        const char* out;
    };
    const Case cases[] = {
        {"install 0x300", "", 0,
         "  AZQ4810CHECKIFDRIVER()         -> 1        first setup: the registration was created\n"
         "  AZQ4810SETBASEADDRESS(0x300)   -> 0        base address written\n"
         "  The driver starts with the system: restart before using the board.\n"},
        {"install 0xFFF0", "", 0,
         "  AZQ4810CHECKIFDRIVER()         -> 1        first setup: the registration was created\n"
         "  AZQ4810SETBASEADDRESS(0xFFF0)  -> 0        base address written\n"
         "  The driver starts with the system: restart before using the board.\n"},
        // A new base for a registration that is there: the driver takes it
        // only when it starts.
        {"install 784", "registered", 0,
         "  AZQ4810CHECKIFDRIVER()         -> 0        already registered\n"
         "  AZQ4810SETBASEADDRESS(0x310)   -> 0        base address written\n"
         "  The driver takes the base address when it starts: restart before using the board at 0x310.\n"},
        {"install 0x300", "answer=no", 1,
         "  AZQ4810CHECKIFDRIVER()         -> -1       first setup declined: nothing registered\n"},
        {"install 768", "registry-fails", 1, "  AZQ4810CHECKIFDRIVER()         -> 255      registration failed\n"},
        {"remove", "registered", 0, "  AZQ4810DELETEALL()             -> 0        registration removed\n"},
        // Nothing registered: nothing to do, and no notice for each missing key.
        {"remove", "", 0, "  The driver is not registered on this machine: nothing to remove.\n"},
        {"remove", "registered,registry-fails", 1,
         "  AZQ4810DELETEALL()             -> 765      3 of 3 removal steps failed\n"},
        // A demo would rewrite and then remove the user's registration.
        {"demo", "registered", 2, ""},
    };
    for (const Case& c : cases) {
        const Result r = run(c.arguments, c.settings);
        EXPECT_EQ(c.status, r.status) << c.arguments << " with " << c.settings;
        EXPECT_EQ(c.out, r.out) << c.arguments << " with " << c.settings;
    }
    EXPECT_EQ("[Error!] Registry Error upon Create the ZQ4810 Key.", firstLine(run("install 0x300", "registry-fails").err));
    EXPECT_EQ(NoCalls, report(run("remove", "")));
    const Result refused = run("demo", "registered");
    EXPECT_EQ("zq4810: demo refused: the driver is registered on this machine, and the demo would",
              firstLine(refused.err));
    EXPECT_TRUE(contains(refused.err, "zq4810 selftest, then zq4810 watch")) << refused.err;
    EXPECT_EQ(NoCalls, report(refused));
}

// ---- demo --------------------------------------------------------------------

TEST(ToolDemo, RunsTheWholeLifeOfABoard)
{
    const Result r = run("demo", "");
    EXPECT_EQ(0, r.status) << r.out << r.err;
    for (const char* line : {
             "  AZQ4810CHECKIFDRIVER()         -> 1        first setup: the registration was created\n",
             "  AZQ4810INITIALIZE()            -> 0        device open, every axis passed the self-test\n",
             "  AZQ4810READPOSITION(0)         -> 1000     after the motion\n",
             "  AZQ4810READPOSITION(1)         -> -4800    after the motion\n",
             "  AZQ4810READPOSITION(2)         -> 160000   after the motion\n",
             "  AZQ4810READPOSITION(3)         -> 28       after the motion\n",
             "  AZQ4810RESETCOUNTER(1)         -> 0        axis 1 back to zero\n  AZQ4810READPOSITION(1)         -> 0\n",
             "  AZQ4810CLOSE()                 -> 0        device closed\n",
             "  AZQ4810DELETEALL()             -> 0        registration removed\n"
             "  (the tool removes the driver's event source, which the registration added)\n",
         }) {
        EXPECT_TRUE(contains(r.out, line)) << line;
    }
    // The notices: the first-setup question, and the one request made after
    // the close on purpose.
    EXPECT_EQ("[First time setup.] This is the initial driver setup. Do you want to continue?\n"
              "[ERROR!] Ioctl failed, unknown error.\n",
              r.err.substr(0, r.err.find("[sim]")));
}

// ---- selftest, and every board command without a device --------------------

TEST(ToolBoardRun, TheSelfTestsAnswerAndNoBoardCommandGoesOnWithoutADevice)
{
    struct Case {
        const char* arguments;
        const char* settings;
        int status;
        std::vector<std::string> parts; // in the output, in this order
        const char* absent;             // not in the output
        const char* notice;             // the first notice, or null for none at all
    };
    const std::string noDevice = "  AZQ4810INITIALIZE()            -> 255      the device cannot be opened: is the "
                                 "driver running?\n";
    const char* const openFailed = "[ERROR!] Unable to open the read device.";
    const Case cases[] = {
        {"selftest", "still", 0,
         {"  AZQ4810INITIALIZE()            -> 0        device open, every axis passed the self-test\n"
          "  axis  self-test\n  0     passed\n  1     passed\n  2     passed\n  3     passed\n"
          "  AZQ4810CLOSE()                 -> 0        device closed\n"},
         "FAILED", nullptr},
        {"selftest", "still,axis-fails=0,axis-fails=3", 1,
         {"  AZQ4810INITIALIZE()            -> 9        device open, axes 0, 3 failed the self-test\n"
          "  axis  self-test\n  0     FAILED\n  1     passed\n  2     passed\n  3     FAILED\n"
          "  AZQ4810CLOSE()                 -> 0        device closed\n"},
         "-> 255", nullptr},
        // A file that takes no rows (a full disk) fails the run, after the close.
        {"watch --count 1 --csv /dev/full", "still", 1,
         {"  AZQ4810CLOSE()                 -> 0        device closed\n"}, "FAILED", nullptr},
        // Without a device each stops after the opening, with no close.
        {"selftest", "no-device", 1, {noDevice}, "CLOSE", openFailed},
        {"watch --count 1", "no-device", 1, {noDevice}, "axis 0", openFailed},
        {"shell", "no-device", 1, {noDevice}, "READPOSITION", openFailed},
        // The demo skips the counting and still removes the registration.
        {"demo", "no-device", 1, {noDevice, "  AZQ4810DELETEALL()             -> 0 "}, "READPOSITION",
         "[First time setup.]"},
    };
    for (const Case& c : cases) {
        const std::string line = std::string(c.arguments) + " with " + c.settings;
        const Result r = run(c.arguments, c.settings, "read 0\n");
        EXPECT_EQ(c.status, r.status) << line;
        size_t at = 0;
        for (const std::string& part : c.parts) {
            at = r.out.find(part, at);
            EXPECT_NE(std::string::npos, at) << line << ": " << part << "\n" << r.out;
        }
        EXPECT_FALSE(contains(r.out, c.absent)) << line << "\n" << r.out;
        if (c.notice == nullptr) {
            EXPECT_TRUE(contains(report(r), "notices 0")) << line;
        } else {
            EXPECT_EQ(c.notice, firstLine(r.err).substr(0, std::string(c.notice).size())) << line;
        }
    }
    // The opening of the read handle is the only platform call.
    EXPECT_EQ("[sim] platform calls 1 (device 1, registry 0), notices 1", report(run("selftest", "no-device")));
}

// ---- watch -------------------------------------------------------------------

TEST(ToolWatch, OneLinePerRefreshWhenNotOnATerminal)
{
    const Result r = run("watch --reset --multiplier 2 --count 3");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("  AZQ4810INITIALIZE()            -> 0        device open, every axis passed the self-test\n"
              "  AZQ4810RESETCOUNTER(0)         -> 0\n"
              "  AZQ4810RESETCOUNTER(1)         -> 0\n"
              "  AZQ4810RESETCOUNTER(2)         -> 0\n"
              "  AZQ4810RESETCOUNTER(3)         -> 0\n"
              "  AZQ4810SETMULTIPLIER(2)        -> 0\n"
              "Counts start from 0: --reset set every counter to 0 first.\n"
              "    axis 0    per s    axis 1    per s    axis 2    per s    axis 3    per s\n"
              "         0                  0                  0                  0         \n"
              "         0        0         0        0         0        0         0        0\n"
              "         0        0         0        0         0        0         0        0\n"
              "  AZQ4810CLOSE()                 -> 0        device closed\n",
              r.out);
}

// The count the board start leaves, as the library's position read gives it.
int selfTestCount()
{
    const int bits = CounterBoard::SelfTestPattern[0] | CounterBoard::SelfTestPattern[1] << 8 |
                     CounterBoard::SelfTestPattern[2] << 16;
    return bits - (bits >= 0x800000 ? 0x1000000 : 0);
}

TEST(ToolWatch, WithoutResetTheCountersShowWhatTheSelfTestLeft)
{
    // The board start loads every counter with the loop-back pattern, and
    // the readout says so before the first count.
    const Result r = run("watch --count 1");
    EXPECT_EQ(0, r.status);
    char said[120];
    std::snprintf(said, sizeof said, "\nCounts start from %d (0x%06X): the board start leaves its self-test pattern\n",
                  selfTestCount(), static_cast<unsigned>(selfTestCount()) & 0xFFFFFFu);
    EXPECT_TRUE(contains(r.out, said)) << r.out;
    char row[80];
    std::snprintf(row, sizeof row, "\n%10d%9s%10d%9s%10d%9s%10d%9s\n", selfTestCount(), "", selfTestCount(), "",
                  selfTestCount(), "", selfTestCount(), "");
    EXPECT_TRUE(contains(r.out, row)) << r.out;
}

TEST(ToolWatch, RatesAreCountsPerSecondTheShortWayRoundTheCounter)
{
    struct Case {
        int before;
        int after;
        long long milliseconds;
        long long rate;
    };
    const Case cases[] = {
        {0, 240, 200, 1200},        {0, -8, 200, -40},          {-2468078, -2468078, 200, 0},
        {8388607, -8388608, 1000, 1}, {-8388608, 8388607, 1000, -1}, {-8388608, 0, 1000, -8388608},
        {0, 8388607, 1, 8388607000}, {3, 7, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.rate, Commands::countsPerSecond(c.before, c.after, c.milliseconds))
            << c.before << " to " << c.after << " in " << c.milliseconds << " ms";
    }
}

TEST(ToolWatch, TheSimulatedAxesMoveWhileWatchedAndTheFileHoldsWhatTheScreenShows)
{
    const std::string csv = folder() + "/watch.csv";
    const Result r = run("watch --reset --count 4 --csv " + csv, "");
    const std::vector<std::string> rows = lines(slurp(csv));
    std::remove(csv.c_str());
    ASSERT_EQ(0, r.status) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(12u, out.size());
    ASSERT_EQ(5u, rows.size());
    EXPECT_EQ("time,axis 0,axis 1,axis 2,axis 3,axis 0 per s,axis 1 per s,axis 2 per s,axis 3 per s", rows[0]);
    // Each refresh on the screen is a row in the file: its time stamp, the
    // same four counts and the same four rates (none in the first row).
    for (size_t refresh = 0; refresh < 4; ++refresh) {
        const std::string& row = rows[1 + refresh];
        int date[7] = {};
        int used = 0;
        ASSERT_EQ(7, std::sscanf(row.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%n", &date[0], &date[1], &date[2], &date[3],
                                 &date[4], &date[5], &date[6], &used))
            << row;
        EXPECT_EQ(23, used) << row;
        long long screen[8] = {};
        const char* const form = refresh == 0 ? "%lld %lld %lld %lld" : "%lld %lld %lld %lld %lld %lld %lld %lld";
        const int shown = refresh == 0 ? std::sscanf(out[7].c_str(), form, &screen[0], &screen[1], &screen[2],
                                                     &screen[3])
                                       : std::sscanf(out[7 + refresh].c_str(), form, &screen[0], &screen[4],
                                                     &screen[1], &screen[5], &screen[2], &screen[6], &screen[3],
                                                     &screen[7]);
        ASSERT_EQ(refresh == 0 ? 4 : 8, shown) << out[7 + refresh];
        std::string expected;
        for (int field = 0; field < 8; ++field) {
            expected += "," + (field < shown ? std::to_string(screen[field]) : std::string());
        }
        EXPECT_EQ(expected, row.substr(23)) << row;
    }
    // Axis 2 runs forwards, axis 1 backwards, and their rates say so.
    long long first[4] = {};
    long long last[8] = {};
    ASSERT_EQ(4, std::sscanf(out[7].c_str(), "%lld %lld %lld %lld", &first[0], &first[1], &first[2], &first[3]));
    ASSERT_EQ(8, std::sscanf(out[10].c_str(), "%lld %lld %lld %lld %lld %lld %lld %lld", &last[0], &last[4], &last[1],
                             &last[5], &last[2], &last[6], &last[3], &last[7]));
    EXPECT_GT(last[2], first[2]);
    EXPECT_LT(last[1], first[1]);
    EXPECT_GT(last[6], 0);
    EXPECT_LT(last[5], 0);
}

TEST(ToolWatch, CtrlCEndsTheReadoutAndClosesTheDevice)
{
    const std::string out = folder() + "/out";
    std::remove(out.c_str());
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        std::FILE* to = std::freopen(out.c_str(), "w", stdout);
        setenv("ZQ4810_SIM", "still", 1);
        if (to != nullptr) {
            execl(ZQ4810_TOOL, ZQ4810_TOOL, "watch", static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    // The heading is printed once the tool listens for Ctrl-C. A tool that
    // never gets there is stopped, so the test fails instead of hanging.
    for (int tries = 0; !contains(slurp(out), "axis 3") && tries < 3000; ++tries) {
        usleep(10000);
    }
    kill(child, contains(slurp(out), "axis 3") ? SIGINT : SIGKILL);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    const std::string text = slurp(out);
    EXPECT_EQ("  AZQ4810CLOSE()                 -> 0        device closed\n",
              text.substr(text.rfind("  AZQ4810CLOSE")));
}

// What the tool prints when it runs on a pseudo-terminal (script makes one):
// BEFORE is the shell's start of the command line, AFTER its end.
std::string onTerminal(const char* before, const char* arguments, const char* after)
{
    const std::string command = std::string(before) + " script -qec '" + ZQ4810_TOOL + " " + arguments +
                                "' /dev/null " + after;
    std::string out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buffer[256];
    for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    EXPECT_EQ(0, pclose(pipe)) << command;
    return out;
}

// script(1) gives the tool a terminal, where there is one to give.
bool terminalAvailable()
{
    return std::system("script -qec true /dev/null >/dev/null 2>&1 </dev/null") == 0;
}

TEST(ToolWatch, RefreshesInPlaceOnATerminal)
{
    if (!terminalAvailable()) {
        GTEST_SKIP() << "no pseudo-terminal here";
    }
    const std::string out = onTerminal("ZQ4810_SIM=still", "watch --reset --count 3", "</dev/null");
    const std::string first = "         0                  0                  0                  0         ";
    const std::string row = "         0        0         0        0         0        0         0        0";
    EXPECT_TRUE(contains(out, "per s\r\n\r" + first + "\r" + row + "\r" + row + "\r\n")) << out;
}

// ---- shell -------------------------------------------------------------------

TEST(ToolShell, RunsAPipedScriptAndClosesAtTheEnd)
{
    const Result r = run("shell", "still",
                      "# set the board up\n"
                      "multiplier 4\n"
                      "reset 0\n"
                      "\n"
                      "read 0\n"
                      "preset 1 -8388608\n"
                      "preset 2 0xFFFFFF\n"
                      "mode 4 15\n"
                      "mode 0 0   # the low field of port 8\n"
                      "read\n");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("  AZQ4810INITIALIZE()            -> 0        device open, every axis passed the self-test\n"
              "  AZQ4810SETMULTIPLIER(4)        -> 0\n"
              "  AZQ4810RESETCOUNTER(0)         -> 0\n"
              "  AZQ4810READPOSITION(0)         -> 0\n"
              "  AZQ4810PRWRITE(1, -8388608)    -> 0        preset register loaded; the count is unchanged\n"
              "  AZQ4810PRWRITE(2, 16777215)    -> 0        preset register loaded; the count is unchanged\n"
              "  AZQ4810CHANGEMODE(4, 15)       -> 0\n"
              "  AZQ4810CHANGEMODE(0, 0)        -> 0\n"
              "  AZQ4810READPOSITION(0)         -> 0\n"
              "  AZQ4810READPOSITION(1)         -> " + std::to_string(selfTestCount()) + "\n"
              "  AZQ4810READPOSITION(2)         -> " + std::to_string(selfTestCount()) + "\n"
              "  AZQ4810READPOSITION(3)         -> " + std::to_string(selfTestCount()) + "\n"
              "  AZQ4810CLOSE()                 -> 0        device closed\n",
              r.out);
    EXPECT_TRUE(contains(report(r), "notices 0"));
}

TEST(ToolShell, QuitStopsReadingAndAFailedRequestShowsItsNotice)
{
    // The 62 requests of the board start pass; the reset's one request fails.
    const Result r = run("shell", "still,request-fails=63", "reset 3\nquit\nread 1\n");
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(contains(r.out, "  AZQ4810RESETCOUNTER(3)         -> 255\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "READPOSITION")) << r.out;
    EXPECT_EQ("[ERROR!] Ioctl failed, unknown error.", firstLine(r.err));
}

TEST(ToolShell, RefusedLinesAreReportedSkippedAndMakeNoLibraryCall)
{
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"read 4", "axis 4 is outside 0..3"},
        {"read -1", "axis -1 is outside 0..3"},
        {"read 1 2", "read: usage: read [AXIS]"},
        {"reset", "reset: usage: reset AXIS"},
        {"reset x", "axis 'x' is not a number"},
        {"preset 0 16777216", "preset 16777216 is outside -8388608..16777215"},
        {"preset 0 -8388609", "preset -8388609 is outside -8388608..16777215"},
        {"preset 0 0x1000000", "preset 0x1000000 is outside -8388608..16777215"},
        {"preset 9 0", "axis 9 is outside 0..3"},
        {"preset 0 99999999999", "preset 99999999999 is out of the 32-bit range"},
        {"multiplier 0", "multiplier 0 is not 1, 2 or 4"},
        {"multiplier 8", "multiplier 8 is not 1, 2 or 4"},
        {"mode 5 0", "selector 5 is outside 0..4"},
        {"mode -1 0", "selector -1 is outside 0..4"},
        {"mode 0 16", "mode 16 is outside 0..15"},
        {"mode 4", "mode: usage: mode SELECTOR VALUE"},
        {"quit now", "quit: usage: quit"},
        {"frob 1", "unknown command 'frob' (help lists them)"},
    };
    // A run with nothing to do sets the number of platform calls that
    // opening and closing take; a refused line must add none.
    const std::string baseline = report(run("shell", "still", ""));
    for (const Case& c : cases) {
        const Result r = run("shell", "still", std::string(c.line) + "\n");
        EXPECT_EQ(2, r.status) << c.line;
        EXPECT_EQ(std::string("zq4810: line 1: ") + c.message, firstLine(r.err)) << c.line;
        EXPECT_EQ(baseline, report(r)) << c.line;
    }
    // Input goes on after a refused line.
    const Result r = run("shell", "still", "read 7\nread 0\n");
    EXPECT_EQ(2, r.status);
    EXPECT_TRUE(contains(r.out, "AZQ4810READPOSITION(0)")) << r.out;
}

TEST(ToolShell, PromptsOnlyOnATerminal)
{
    EXPECT_FALSE(contains(run("shell", "still", "read 0\n").out, "zq4810>"));
    if (!terminalAvailable()) {
        GTEST_SKIP() << "no pseudo-terminal here";
    }
    const std::string out = onTerminal("printf 'read 0\\nquit\\n' | ZQ4810_SIM=still", "shell", "");
    EXPECT_TRUE(contains(out, "zq4810> ")) << out;
    EXPECT_TRUE(contains(out, "AZQ4810READPOSITION(0)")) << out;
}

} // namespace
