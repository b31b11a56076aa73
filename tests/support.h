// What every test shares: a fresh simulated machine and a library whose
// module state is back at "nothing open", and short ways to read notices.
#pragma once

#include "api/exports.h"
#include "platform/sim/control.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace TestSupport {

// One notice as "caption|text|style", style in hex: "ERROR!|Ioctl failed, unknown error.|0x10".
std::string describe(const Sim::Notice& notice);

// Every notice shown since the last clear, described.
std::vector<std::string> notices();

// The same notice repeated: for expectations like "54 times the request failure".
std::vector<std::string> repeated(const std::string& notice, int times);

// Joins lists of expected notices.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);

// Notices the library shows, as describe() writes them.
extern const std::string RequestFailed;
extern const std::string WrongLength;
extern const std::string OpenReadFailed;
extern const std::string OpenWriteFailed;
extern const std::string CloseReadFailed;
extern const std::string CloseWriteFailed;

// Starts the board with every axis echoing and clears the trace and notices,
// so a test sees only what follows.
void initializeQuietly();

// Forgets what was traced and shown, the call counts and the faults.
void clearRecords();

} // namespace TestSupport

// Every test starts on a freshly booted simulated machine with the library's
// channel closed.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
