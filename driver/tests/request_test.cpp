// The driver's decisions at a create and at a request, compiled for the host
// as they are into the driver. The library sends the same two requests from a
// 32-bit and from a 64-bit process (bytes only, no pointers), so one table
// covers both.
#include "driver/request.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned PortCount = 16;

// Rights of a create as Windows gives them to the driver: generic rights
// mapped to the file rights (FILE_GENERIC_READ, FILE_GENERIC_WRITE).
constexpr unsigned GenericRead = 0x00120089, GenericWrite = 0x00120116;

// The create the request is sent on: the name below the device (its length
// in bytes), whether the system gave a security context, the rights in it,
// and whether the driver lets it open at all.
struct Opening {
    unsigned nameLength;
    bool context;
    unsigned access;
    bool opens = true;
};

// The library's own openings, and one that only reads.
constexpr Opening Library{0, true, GenericRead | GenericWrite};
constexpr Opening ReadOnly{0, true, GenericRead};

struct Case {
    const char* what;
    unsigned code;
    unsigned inLength;
    unsigned outLength;
    unsigned offset; // written little-endian into the buffer's first 4 bytes
    RequestVerdict verdict;
    bool noBuffer = false;
    unsigned ports = PortCount;
    Opening opening = Library;
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
    // Writes only on an opening made for writing; reads on any. An opening
    // for appending only does not write, as it would not pass the system's
    // check of a code asking for write access. A system that gives no
    // security context (Wine) checks no access at all: its openings write.
    {"read on a read-only opening", REQUEST_READ_CODE, 4, 1, 3, REQUEST_SERVE, false, PortCount, ReadOnly},
    {"write on a read-only opening", REQUEST_WRITE_CODE, 5, 0, 9, REQUEST_DENIED, false, PortCount, ReadOnly},
    {"bad write on a read-only opening", REQUEST_WRITE_CODE, 8, 0, 99, REQUEST_DENIED, true, PortCount, ReadOnly},
    {"code 2 on a read-only opening", 2, 5, 0, 9, REQUEST_UNKNOWN, false, PortCount, ReadOnly},
    {"write on an opening for writing only", REQUEST_WRITE_CODE, 5, 0, 9, REQUEST_SERVE, false, PortCount,
     {0, true, GenericWrite}},
    {"write on an opening asking GENERIC_WRITE unmapped", REQUEST_WRITE_CODE, 5, 0, 9, REQUEST_SERVE, false,
     PortCount, {0, true, 0x40000000}},
    {"write on an opening for appending only", REQUEST_WRITE_CODE, 5, 0, 9, REQUEST_DENIED, false, PortCount,
     {0, true, 0x00100004}},
    {"write on an opening asking no rights", REQUEST_WRITE_CODE, 5, 0, 9, REQUEST_DENIED, false, PortCount,
     {0, true, 0}},
    {"write on an opening without a security context", REQUEST_WRITE_CODE, 5, 0, 9, REQUEST_SERVE, false,
     PortCount, {0, false, 0}},
    // A name below the device, even the "\\" of "\\.\ZQ4810Dev\", does not open,
    // whatever the rights or their absence.
    {"opening of \\\\.\\ZQ4810Dev\\", REQUEST_READ_CODE, 4, 1, 3, REQUEST_SERVE, false, PortCount,
     {2, true, GenericRead | GenericWrite, false}},
    {"opening of a name below the device", REQUEST_READ_CODE, 4, 1, 3, REQUEST_SERVE, false, PortCount,
     {8, true, GenericRead, false}},
    {"opening of a name without a security context", REQUEST_READ_CODE, 4, 1, 3, REQUEST_SERVE, false,
     PortCount, {8, false, 0, false}},
};

} // namespace

TEST(DriverRequest, ServesTheLibrarysTwoRequestsAndRefusesOthers)
{
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.what);
        const RequestOpening opening =
            RequestOpen(entry.opening.nameLength, entry.opening.context, entry.opening.access);
        EXPECT_EQ(opening != OPENING_REFUSED, entry.opening.opens);
        if (opening == OPENING_REFUSED) {
            continue;
        }
        const unsigned char buffer[8] = {static_cast<unsigned char>(entry.offset),
                                         static_cast<unsigned char>(entry.offset >> 8),
                                         static_cast<unsigned char>(entry.offset >> 16),
                                         static_cast<unsigned char>(entry.offset >> 24), 0x5A};
        unsigned offset = 0xDEAD;
        EXPECT_EQ(RequestCheck(opening, entry.code, entry.inLength, entry.outLength, entry.noBuffer ? nullptr : buffer,
                               entry.ports, &offset),
                  entry.verdict);
        EXPECT_EQ(offset, entry.verdict == REQUEST_SERVE ? entry.offset : 0xDEADu);
    }
}
