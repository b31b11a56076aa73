#include "tests/support.h"

#include <cstdio>

namespace TestSupport {

const std::string RequestFailed = "ERROR!|Ioctl failed, unknown error.|0x10";
const std::string WrongLength = "ERROR!|ReturnedLength != DataLength.|0x10";
const std::string OpenReadFailed = "ERROR!|Unable to open the read device.|0x10";
const std::string OpenWriteFailed = "ERROR!|Unable to open the write device.|0x10";
const std::string CloseReadFailed = "ERROR!|Failed to close the read device.|0x10";
const std::string CloseWriteFailed = "ERROR!|Failed to close the write device.|0x10";

std::string describe(const Sim::Notice& notice)
{
    char style[16];
    std::snprintf(style, sizeof style, "0x%02X", static_cast<unsigned>(notice.style));
    return std::string(notice.caption) + "|" + notice.text + "|" + style +
           (notice.ownerWindow ? "|owned" : "");
}

std::vector<std::string> notices()
{
    std::vector<std::string> all;
    for (int i = 0; i < Sim::noticeCount(); ++i) {
        all.push_back(describe(Sim::notice(i)));
    }
    return all;
}

std::vector<std::string> repeated(const std::string& notice, int times)
{
    return std::vector<std::string>(static_cast<size_t>(times), notice);
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void clearRecords()
{
    Sim::clearTrace();
    Sim::clearNotices();
    Sim::resetCounts();
    Sim::clearFaults(); // a fault by number would strike again once counts restart
}

void initializeQuietly()
{
    ASSERT_EQ(AZQ4810INITIALIZE(), 0);
    clearRecords();
}

} // namespace TestSupport

void LibraryTest::SetUp()
{
    // Close whatever an earlier test left open, then start from a clean
    // machine: the library's module state lives as long as the process.
    Sim::reset();
    Sim::echoNotices(false);
    AZQ4810CLOSE();
    Sim::reset();
    Sim::echoNotices(false);
}

void LibraryTest::TearDown()
{
    Sim::echoNotices(false);
    AZQ4810CLOSE();
}
