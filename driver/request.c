/* The request check of the driver; see request.h. */
#include "request.h"

enum RequestOpening RequestOpen(unsigned int nameLength, int hasContext, unsigned int access)
{
    /* The device has no names below it. Windows passes "\\.\ZQ4810Dev\" as
     * the name "\", so that one is refused too: only the device itself opens. */
    if (nameLength != 0) {
        return OPENING_REFUSED;
    }
    /* Windows' I/O manager gives every create a security context. A create
     * without one comes from a kernel that checks no access to the device at
     * all (Wine's: any user there reaches every device), where telling the
     * openings apart would only stop the library's write handle. */
    if (!hasContext || (access & REQUEST_WRITE_ACCESS) != 0) {
        return OPENING_WRITES;
    }
    return OPENING_READS;
}

enum RequestVerdict RequestCheck(enum RequestOpening opening, unsigned int code, unsigned int inLength,
                                 unsigned int outLength, const unsigned char* buffer, unsigned int portCount,
                                 unsigned int* offset)
{
    unsigned int at;
    if (code != REQUEST_READ_CODE && code != REQUEST_WRITE_CODE) {
        return REQUEST_UNKNOWN;
    }
    /* The codes ask the system for no access, so the opening's own answer
     * stands in for the check the system would make. */
    if (code == REQUEST_WRITE_CODE && opening != OPENING_WRITES) {
        return REQUEST_DENIED;
    }
    /* A write's output is never looked at: the system may describe an empty
     * one (some pass a zero-length buffer descriptor), or none. */
    if (buffer == 0 ||
        (code == REQUEST_READ_CODE && (inLength != REQUEST_OFFSET_BYTES || outLength < 1)) ||
        (code == REQUEST_WRITE_CODE && inLength != REQUEST_OFFSET_BYTES + 1)) {
        return REQUEST_REFUSED;
    }
    at = (unsigned int)buffer[0] | (unsigned int)buffer[1] << 8 | (unsigned int)buffer[2] << 16 |
         (unsigned int)buffer[3] << 24;
    if (at >= portCount) {
        return REQUEST_REFUSED;
    }
    *offset = at;
    return REQUEST_SERVE;
}
