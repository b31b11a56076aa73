// Which bytes of the shipped binaries' code ran. Each covered image's blocks
// are seen as the machine enters them and marked in a map of the image's
// bytes; at the program's exit the maps are OR-ed into one file per binary in
// the folder ZQ4810_COVERAGE names (the test command's results folder), so
// that the tests, each its own process, add up. scripts/coverage reads them.
//
// A block counts whole once entered: one that a breach stops midway counts
// its tail too. Code the tests patched counts no more from the patch on.
#pragma once

#include "emulator/image.h"

namespace Emulator {

// Starts seeing the image's blocks on this machine, when ZQ4810_COVERAGE is
// set or an observer is.
void cover(Machine& machine, const Image& image, const char* path);
// The machine's code is no longer the file's (a patch), or the machine goes.
void stopCovering(const Machine& machine);

// Writes what ran now, when anything ran that had not: for a program that
// may end without exit(), as a fuzzer does.
void writeCoverage();

// For a fuzzer: each block entered, as its offset in the image and its size.
// Set before the image is covered.
using BlockObserver = void (*)(uint64_t offset, uint32_t size);
void observeBlocks(BlockObserver observer);

} // namespace Emulator
