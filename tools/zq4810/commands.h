// The tool's subcommands. Each gets the arguments after its name, already
// free of --help, and returns the process's exit status: 0 done, 1 the board
// or the library reported a failure, 2 refused input (after usageError).
#pragma once

namespace Commands {

constexpr int Done = 0;
constexpr int Failed = 1;
constexpr int BadInput = 2;

int install(int argc, char** argv);
int remove(int argc, char** argv);
int selftest(int argc, char** argv);
int watch(int argc, char** argv);
int shell(int argc, char** argv);
// The shell's commands, one line each, for its help and the tool's.
extern const char ShellHelp[];
int demo(int argc, char** argv);

// Refuses the command line: the one-line reason and the command's usage on
// standard error. Returns BadInput.
int usageError(const char* command, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Refuses any argument at all: for commands that take none.
int noArguments(const char* command, int argc, char** argv);

} // namespace Commands
