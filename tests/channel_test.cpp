// The device channel seen through the exports: how the two handles are
// opened, what each request looks like, and every failure's notice and result.
#include "tests/support.h"

#include <cstdio>

using namespace TestSupport;

namespace {

constexpr uint32_t Read = 0x80000000u;
constexpr uint32_t Write = 0x40000000u;

using ChannelTest = LibraryTest;

TEST_F(ChannelTest, OpensTheDeviceForReadingThenForWritingWithExactFlags)
{
    ASSERT_EQ(AZQ4810INITIALIZE(), 0);
    ASSERT_EQ(Sim::openCallCount(), 2);
    const uint32_t access[] = {Read, Write};
    const uint32_t share[] = {1 /* FILE_SHARE_READ */, 2 /* FILE_SHARE_WRITE */};
    for (int i = 0; i < 2; ++i) {
        const Sim::OpenCall call = Sim::openCall(i);
        SCOPED_TRACE(i);
        EXPECT_STREQ(call.name, "\\\\.\\ZQ4810Dev");
        EXPECT_EQ(call.access, access[i]);
        EXPECT_EQ(call.share, share[i]);
        EXPECT_FALSE(call.securityAttributes);
        EXPECT_EQ(call.disposition, 3u); // OPEN_EXISTING
        EXPECT_EQ(call.flags, 0u);
        EXPECT_FALSE(call.templateFile);
    }
    EXPECT_EQ(Sim::openDeviceHandles(), 2);
    EXPECT_EQ(AZQ4810CLOSE(), 0);
    EXPECT_EQ(Sim::openDeviceHandles(), 0);
    EXPECT_TRUE(notices().empty());
}

// A request's shape in one line: its code, its handle's access, its lengths,
// and whether it passed an output buffer and an overlapped structure.
std::string shape(const Sim::Request& r)
{
    char text[96];
    std::snprintf(text, sizeof text, "code %u, handle %08X, in %u, out %u, output buffer %d, overlapped %d", r.code,
                  r.handleAccess, r.inputLength, r.outputLength, r.outputBuffer, r.overlapped);
    return text;
}

TEST_F(ChannelTest, ReadsAndWritesHaveTheirCodesLengthsAndHandles)
{
    initializeQuietly();
    AZQ4810RESETCOUNTER(3);
    EXPECT_EQ(shape(Sim::lastRequest()), "code 1, handle 40000000, in 5, out 0, output buffer 0, overlapped 0");
    AZQ4810READPOSITION(3);
    EXPECT_EQ(shape(Sim::lastRequest()), "code 0, handle 80000000, in 4, out 1, output buffer 1, overlapped 0");

    // No request went to a handle of the other direction ('~') or failed ('!').
    EXPECT_STREQ(Sim::trace(), "w7=02 w7=10 w7=01 r6 r6 r6");
    EXPECT_TRUE(notices().empty());
}

// An opening that fails, and what the exports do on the handles it leaves.
// With no handle open, requests never reach the driver and both closes fail.
struct FailedOpening {
    const char* name;
    bool startedBefore; // a first start succeeded: the second one closes its pair first
    uint32_t failing;   // the access whose opening fails
    int openCalls;      // since the machine booted
    std::string shownAtOpening;
    int handlesLeft;
    // Then RESETCOUNTER(0), READPOSITION(0) with 0x123456 in the counter, and CLOSE:
    int position;       // the latch still holds zero after power-on
    const char* trace;  // what reached the driver
    int requests;       // device requests the library made
    int close;
    int closeCalls;
    std::vector<std::string> shown;
};

using FailedOpeningTest = LibraryTable;

const FailedOpening ReadOpening = [] {
    FailedOpening c{};
    c.name = "ReadOpening";
    c.startedBefore = false;
    c.failing = Read;
    c.openCalls = 1;
    c.shownAtOpening = OpenReadFailed;
    c.handlesLeft = 0;
    c.position = -1;
    c.trace = "";
    c.requests = 0;
    c.close = 510;
    c.closeCalls = 0;
    c.shown = repeated(RequestFailed, 6) + std::vector<std::string>{CloseReadFailed, CloseWriteFailed};
    return c;
}();

const FailedOpening failedOpenings[] = {
    ReadOpening,
    // Writes are refused at the library; reads still go out on the read handle.
    [] {
        FailedOpening c{};
        c.name = "WriteOpening";
        c.startedBefore = false;
        c.failing = Write;
        c.openCalls = 2;
        c.shownAtOpening = OpenWriteFailed;
        c.handlesLeft = 1;
        c.position = 0;
        c.trace = "r0 r0 r0";
        c.requests = 3;
        c.close = 255;
        c.closeCalls = 1;
        c.shown = repeated(RequestFailed, 3) + std::vector<std::string>{CloseWriteFailed};
        return c;
    }(),
    // After a first start the old write handle is forgotten too (see
    // AFailedReopeningKeepsNoStaleWriteHandle): the rest is as on a first start.
    [] {
        FailedOpening c = ReadOpening;
        c.name = "ReadReopening";
        c.startedBefore = true;
        c.openCalls = 3;
        return c;
    }(),
};

INSTANTIATE_TEST_SUITE_P(Rows, FailedOpeningTest, rows(failedOpenings), rowNames(failedOpenings));

TEST_P(FailedOpeningTest, AnswersWithTheHandlesItLeft)
{
    const FailedOpening& c = failedOpenings[GetParam()];
    if (c.startedBefore) {
        initializeQuietly();
    }
    Sim::failOpening(c.failing);
    EXPECT_EQ(AZQ4810INITIALIZE(), 255);
    EXPECT_EQ(notices(), std::vector<std::string>{c.shownAtOpening});
    EXPECT_EQ(Sim::openCallCount(), c.openCalls);
    EXPECT_EQ(Sim::openDeviceHandles(), c.handlesLeft);
    EXPECT_STREQ(Sim::trace(), ""); // no board start

    clearRecords();
    Sim::setCounter(0, 0x123456);
    EXPECT_EQ(AZQ4810RESETCOUNTER(0), 255);
    EXPECT_EQ(AZQ4810READPOSITION(0), c.position);
    EXPECT_EQ(AZQ4810CLOSE(), c.close);
    EXPECT_STREQ(Sim::trace(), c.trace);
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceRequest), c.requests);
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceClose), c.closeCalls);
    EXPECT_EQ(notices(), c.shown);
    EXPECT_EQ(Sim::openDeviceHandles(), 0);
}

TEST_F(ChannelTest, FailedRequestsShowTheirNoticeAndGive255)
{
    initializeQuietly();
    Sim::failCall(Sim::Call::DeviceRequest, 1);
    EXPECT_EQ(AZQ4810RESETCOUNTER(1), 255);
    EXPECT_STREQ(Sim::trace(), "w3=02!");
    EXPECT_EQ(notices(), std::vector<std::string>{RequestFailed});

    // A failed read contributes 0xFF as its byte: here the high byte.
    clearRecords();
    Sim::setCounter(2, 0x000102);
    Sim::failCall(Sim::Call::DeviceRequest, 5);
    EXPECT_EQ(AZQ4810READPOSITION(2), static_cast<int>(0xFFFF0102u));
    EXPECT_STREQ(Sim::trace(), "w5=10 w5=01 r4 r4 r4!");
    EXPECT_EQ(notices(), std::vector<std::string>{RequestFailed});
}

// A driver that answers nothing, and one that writes its byte but claims
// two: either way the byte is not taken.
struct ReadReply {
    const char* name;
    uint32_t length;
};

using ReadReplyTest = LibraryTable;

const ReadReply readReplies[] = {{"NoByte", 0}, {"TwoBytes", 2}};

INSTANTIATE_TEST_SUITE_P(Rows, ReadReplyTest, rows(readReplies), rowNames(readReplies));

TEST_P(ReadReplyTest, AnyLengthButOneGivesOneAndItsNotice)
{
    initializeQuietly();
    Sim::setCounter(0, 0x123456);
    Sim::readReplyLength(readReplies[GetParam()].length);
    EXPECT_EQ(AZQ4810READPOSITION(0), 65793);
    EXPECT_EQ(notices(), repeated(WrongLength, 3));
    EXPECT_STREQ(Sim::trace(), "w1=10 w1=01 r0 r0 r0");
}

TEST_F(ChannelTest, AFailedReopeningKeepsNoStaleWriteHandle)
{
    // The second start closes the first pair, then its read opening fails.
    // The old write handle must be forgotten: on Windows its value may by
    // then name another object, and a request or close on it would reach that.
    initializeQuietly();
    Sim::failOpening(Read);
    EXPECT_EQ(AZQ4810INITIALIZE(), 255);
    EXPECT_EQ(notices(), std::vector<std::string>{OpenReadFailed});
    EXPECT_EQ(Sim::openDeviceHandles(), 0);

    clearRecords();
    EXPECT_EQ(AZQ4810RESETCOUNTER(0), 255);
    EXPECT_EQ(AZQ4810CLOSE(), 510);
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceRequest), 0);
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceClose), 0);
    EXPECT_EQ(notices(), (std::vector<std::string>{RequestFailed, CloseReadFailed, CloseWriteFailed}));
}

struct Closing {
    const char* name;
    int failRead; // which close calls fail: 1 = the read handle's, 2 = the write handle's
    int failWrite;
    int result;
    std::vector<std::string> shown;
};

using ClosingTest = LibraryTable;

const Closing closings[] = {
    {"BothClose", 0, 0, 0, {}},
    {"ReadFails", 1, 0, 255, {CloseReadFailed}},
    {"WriteFails", 0, 2, 255, {CloseWriteFailed}},
    {"BothFail", 1, 2, 510, {CloseReadFailed, CloseWriteFailed}},
};

INSTANTIATE_TEST_SUITE_P(Rows, ClosingTest, rows(closings), rowNames(closings));

TEST_P(ClosingTest, ReportsEachHandleThatCannotBeClosed)
{
    const Closing& c = closings[GetParam()];
    initializeQuietly();
    if (c.failRead != 0) {
        Sim::failCall(Sim::Call::DeviceClose, c.failRead);
    }
    if (c.failWrite != 0) {
        Sim::failCallsFrom(Sim::Call::DeviceClose, c.failWrite);
    }
    EXPECT_EQ(AZQ4810CLOSE(), c.result);
    EXPECT_EQ(notices(), c.shown);
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceClose), 2);
    // Both handles count as closed whatever the close calls said.
    clearRecords();
    EXPECT_EQ(AZQ4810RESETCOUNTER(0), 255);
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceRequest), 0);
}

TEST_F(ChannelTest, ClosingWithoutOpeningOrTwiceShowsBothNoticesAndGives510)
{
    EXPECT_EQ(AZQ4810CLOSE(), 510);
    EXPECT_EQ(notices(), (std::vector<std::string>{CloseReadFailed, CloseWriteFailed}));
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceClose), 0);

    initializeQuietly();
    EXPECT_EQ(AZQ4810CLOSE(), 0);
    EXPECT_EQ(AZQ4810CLOSE(), 510);
    EXPECT_EQ(notices(), (std::vector<std::string>{CloseReadFailed, CloseWriteFailed}));
}

TEST_F(ChannelTest, InitializingAgainReplacesTheHandlesWithoutLeaking)
{
    ASSERT_EQ(AZQ4810INITIALIZE(), 0);
    ASSERT_EQ(AZQ4810INITIALIZE(), 0);
    EXPECT_EQ(Sim::openDeviceHandles(), 2);
    EXPECT_EQ(Sim::openCallCount(), 4);
    EXPECT_EQ(AZQ4810CLOSE(), 0);
    EXPECT_EQ(Sim::openDeviceHandles(), 0);
    EXPECT_TRUE(notices().empty());

    // Also after a half-failed opening: the kept read handle is replaced.
    Sim::failCall(Sim::Call::DeviceOpen, Sim::callCount(Sim::Call::DeviceOpen) + 2);
    EXPECT_EQ(AZQ4810INITIALIZE(), 255);
    EXPECT_EQ(Sim::openDeviceHandles(), 1);
    EXPECT_EQ(AZQ4810INITIALIZE(), 0);
    EXPECT_EQ(Sim::openDeviceHandles(), 2);
    EXPECT_EQ(AZQ4810CLOSE(), 0);
    EXPECT_EQ(Sim::openDeviceHandles(), 0);
}

} // namespace
