// zq4810 run as a process, as a user or a script runs it. The simulated
// platform behind it is set up through ZQ4810_SIM; its "report" setting
// prints the platform calls and notices of the whole run, which is how these
// tests see that refused input never reached the library.
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
        {"install -1", "base address -1 is outside 0..0xFFFF", "usage: zq4810 install BASE"},
        {"install 0x10000", "base address 0x10000 is outside 0..0xFFFF", "usage: zq4810 install BASE"},
        {"watch --multiplier 3", "multiplier 3 is not 1, 2 or 4", "usage: zq4810 watch"},
        {"watch --multiplier", "--multiplier needs a value", "usage: zq4810 watch"},
        {"watch --count 0", "count 0 is outside 1..2147483647", "usage: zq4810 watch"},
        {"watch --count x", "count 'x' is not a number", "usage: zq4810 watch"},
        {"watch --count 2147483648", "count 2147483648 is out of the 32-bit range", "usage: zq4810 watch"},
        {"watch --fast", "unexpected argument '--fast'", "usage: zq4810 watch"},
        {"watch 3", "unexpected argument '3'", "usage: zq4810 watch"},
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
        {"install 768", "registered", 0,
         "  AZQ4810CHECKIFDRIVER()         -> 0        already registered\n"
         "  AZQ4810SETBASEADDRESS(0x300)   -> 0        base address written\n"},
        {"install 0x300", "answer=no", 1,
         "  AZQ4810CHECKIFDRIVER()         -> -1       first setup declined: nothing registered\n"},
        {"install 768", "registry-fails", 1, "  AZQ4810CHECKIFDRIVER()         -> 255      registration failed\n"},
        {"remove", "registered", 0, "  AZQ4810DELETEALL()             -> 0        registration removed\n"},
        {"remove", "", 1, "  AZQ4810DELETEALL()             -> 765      3 of 3 removal steps failed\n"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.arguments, c.settings);
        EXPECT_EQ(c.status, r.status) << c.arguments << " with " << c.settings;
        EXPECT_EQ(c.out, r.out) << c.arguments << " with " << c.settings;
    }
    EXPECT_EQ("[Error!] Registry Error upon Create the ZQ4810 Key.", firstLine(run("install 0x300", "registry-fails").err));
    EXPECT_EQ("[sim] platform calls 3 (device 0, registry 3), notices 3", report(run("remove", "")));
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
             "  AZQ4810DELETEALL()             -> 0        registration removed\n",
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
              "      axis 0      axis 1      axis 2      axis 3\n"
              "           0           0           0           0\n"
              "           0           0           0           0\n"
              "           0           0           0           0\n"
              "  AZQ4810CLOSE()                 -> 0        device closed\n",
              r.out);
}

TEST(ToolWatch, WithoutResetTheCountersShowWhatTheSelfTestLeft)
{
    // The board start loads every counter with the loop-back pattern
    // 0xDA5712, which reads as a negative 24-bit count.
    const Result r = run("watch --count 1");
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(contains(r.out, "\n    -2468078    -2468078    -2468078    -2468078\n")) << r.out;
}

TEST(ToolWatch, TheSimulatedAxesMoveWhileWatched)
{
    const Result r = run("watch --reset --count 4", "");
    ASSERT_EQ(0, r.status);
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(11u, out.size());
    // Axis 2 runs forwards, axis 1 backwards.
    int first[4] = {};
    int last[4] = {};
    ASSERT_EQ(4, std::sscanf(out[6].c_str(), "%d %d %d %d", &first[0], &first[1], &first[2], &first[3]));
    ASSERT_EQ(4, std::sscanf(out[9].c_str(), "%d %d %d %d", &last[0], &last[1], &last[2], &last[3]));
    EXPECT_GT(last[2], first[2]);
    EXPECT_LT(last[1], first[1]);
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
    const std::string command = std::string("ZQ4810_SIM=still script -qec '") + ZQ4810_TOOL +
                                " watch --reset --count 3' /dev/null </dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string out;
    char buffer[256];
    for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    ASSERT_EQ(0, pclose(pipe));
    const std::string row = "           0           0           0           0";
    EXPECT_TRUE(contains(out, "axis 3\r\n\r" + row + "\r" + row + "\r" + row + "\r\n")) << out;
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
              "  AZQ4810PRWRITE(1, -8388608)    -> 0\n"
              "  AZQ4810PRWRITE(2, 16777215)    -> 0\n"
              "  AZQ4810CHANGEMODE(4, 15)       -> 0\n"
              "  AZQ4810CHANGEMODE(0, 0)        -> 0\n"
              "  AZQ4810READPOSITION(0)         -> 0\n"
              "  AZQ4810READPOSITION(1)         -> -2468078\n"
              "  AZQ4810READPOSITION(2)         -> -2468078\n"
              "  AZQ4810READPOSITION(3)         -> -2468078\n"
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
    const std::string command = std::string("printf 'read 0\\nquit\\n' | ZQ4810_SIM=still script -qec '") +
                                ZQ4810_TOOL + " shell' /dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string out;
    char buffer[256];
    for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    ASSERT_EQ(0, pclose(pipe));
    EXPECT_TRUE(contains(out, "zq4810> ")) << out;
    EXPECT_TRUE(contains(out, "AZQ4810READPOSITION(0)")) << out;
}

} // namespace
