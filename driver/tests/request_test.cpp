// The driver's request check, compiled for the host as it is into the
// driver. The library sends the same two requests from a 32-bit and from a
// 64-bit process (bytes only, no pointers), so one table covers both.
#include "driver/request.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned PortCount = 16;

struct Case {
    const char* what;
    unsigned code;
    unsigned inLength;
    unsigned outLength;
    unsigned offset; // written little-endian into the buffer's first 4 bytes
    RequestVerdict verdict;
    bool noBuffer = false;
    unsigned ports = PortCount;
};

constexpr Case cases[] = {
    // What the library sends: a read, a write (no output, or Wine's empty one).
    {"read", REQUEST_READ_CODE, 4, 1, 3, REQUEST_SERVE},
    {"write", REQUEST_WRITE_CODE, 5, 0, 9, REQUEST_SERVE},
    {"write with an output", REQUEST_WRITE_CODE, 5, 8, 9, REQUEST_SERVE},
    {"read of the last port", REQUEST_READ_CODE, 4, 1, PortCount - 1, REQUEST_SERVE},
    {"read with a larger output", REQUEST_READ_CODE, 4, 4, 0, REQUEST_SERVE},
    // Offsets past the ports, up to one whose high byte alone is set.
    {"read past the ports", REQUEST_READ_CODE, 4, 1, PortCount, REQUEST_REFUSED},
    {"write past the ports", REQUEST_WRITE_CODE, 5, 0, 0x01000000, REQUEST_REFUSED},
    // Lengths another program might give.
    {"read without output", REQUEST_READ_CODE, 4, 0, 0, REQUEST_REFUSED},
    {"read of a 5-byte input", REQUEST_READ_CODE, 5, 1, 0, REQUEST_REFUSED},
    {"read of an 8-byte input", REQUEST_READ_CODE, 8, 1, 0, REQUEST_REFUSED},
    {"write of a 4-byte input", REQUEST_WRITE_CODE, 4, 0, 0, REQUEST_REFUSED},
    {"write of an 8-byte input", REQUEST_WRITE_CODE, 8, 0, 0, REQUEST_REFUSED},
    // Other codes, whatever their lengths.
    {"code 2", 2, 4, 1, 0, REQUEST_UNKNOWN},
    {"a buffered code with a device type", 0x00220000, 4, 1, 0, REQUEST_UNKNOWN},
    // No buffer, or no ports at all.
    {"read without a buffer", REQUEST_READ_CODE, 4, 1, 0, REQUEST_REFUSED, true},
    {"write without a buffer", REQUEST_WRITE_CODE, 5, 0, 0, REQUEST_REFUSED, true},
    {"read with no ports", REQUEST_READ_CODE, 4, 1, 0, REQUEST_REFUSED, false, 0},
};

} // namespace

TEST(DriverRequest, ServesTheLibrarysTwoRequestsAndRefusesOthers)
{
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.what);
        const unsigned char buffer[8] = {static_cast<unsigned char>(entry.offset),
                                         static_cast<unsigned char>(entry.offset >> 8),
                                         static_cast<unsigned char>(entry.offset >> 16),
                                         static_cast<unsigned char>(entry.offset >> 24), 0x5A};
        unsigned offset = 0xDEAD;
        EXPECT_EQ(RequestCheck(entry.code, entry.inLength, entry.outLength, entry.noBuffer ? nullptr : buffer,
                               entry.ports, &offset),
                  entry.verdict);
        EXPECT_EQ(offset, entry.verdict == REQUEST_SERVE ? entry.offset : 0xDEADu);
    }
}
