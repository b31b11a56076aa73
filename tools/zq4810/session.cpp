#include "tools/zq4810/session.h"

#include "2KZQ4810/exports.h"
#include "tools/zq4810/output.h"

#include <cstdio>

namespace Session {

const char* describeMask(int mask)
{
    static char text[64];
    if (mask == NoDevice) {
        return "the device cannot be opened: is the driver running?";
    }
    if (mask == 0) {
        return "device open, every axis passed the self-test";
    }
    std::snprintf(text, sizeof text, "device open, %s failed the self-test", Output::axesOf(mask));
    return text;
}

int open()
{
    const int mask = AZQ4810INITIALIZE();
    Output::step("AZQ4810INITIALIZE()", mask, describeMask(mask));
    return mask;
}

int close()
{
    const int result = AZQ4810CLOSE();
    Output::step("AZQ4810CLOSE()", result, result == 0 ? "device closed" : "closing failed");
    return result;
}

} // namespace Session
