// What the tool needs from the machine it runs on, beyond the library: the
// terminal, a pause, and on the simulated platform the simulator's own
// controls (its settings from the environment, moving the axes). One
// implementation per platform, chosen by the build: target_simulated.cpp on
// the host, target_windows.cpp on Windows, where the board and its driver
// are real and nothing can move an axis but the machine itself.
#pragma once

#include <cstddef>
#include <cstdio>

namespace Target {

// Whether this machine's registry has the key (a path below
// HKEY_LOCAL_MACHINE), looked at without changing anything; Unknown when the
// registry does not let the tool see.
enum class Presence { Absent, Present, Unknown };
Presence registryKey(const char* path);

// Removes the key, which must have no subkeys. False when it could not be.
bool removeRegistryKey(const char* path);

// Said in the demo's heading: where the library's calls end up.
const char* name();

// How the library's notices reach the user, for the demo's heading.
const char* noticeForm();

// Sets the platform up before the first library call. Null when all is well,
// else a text saying what is wrong with its settings.
const char* prepare();

// Turns the encoder of one axis by this many cycles. False where the tool
// cannot do that (a real machine moves its own axes).
bool moveAxis(int axis, int cycles);

// Restarts the machine after a first setup, so that the system starts the
// driver. False where the tool cannot (a real machine is restarted by its user).
bool restartMachine();

// Lets the axes move slowly by themselves, so that a live readout shows
// something; nothing on a real machine, whose axes move when they move.
void letAxesDrift();

// Whether the stream is an interactive terminal.
bool isTerminal(std::FILE* stream);

void pause(int milliseconds);

// Milliseconds since some fixed moment, never going back: for rates.
long long milliseconds();

// The local wall-clock time, "2024-05-31 14:02:07.250", for time stamps.
void timestamp(char* text, std::size_t size);

} // namespace Target
