/* The request check of the driver; see request.h. */
#include "request.h"

enum RequestVerdict RequestCheck(unsigned int code, unsigned int inLength, unsigned int outLength,
                                 const unsigned char* buffer, unsigned int portCount,
                                 unsigned int* offset)
{
    unsigned int at;
    if (code != REQUEST_READ_CODE && code != REQUEST_WRITE_CODE) {
        return REQUEST_UNKNOWN;
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
