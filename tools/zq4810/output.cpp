#include "tools/zq4810/output.h"

#include <cstdarg>
#include <cstdio>

namespace Output {

void step(const char* call, int result, const char* meaning)
{
    if (meaning[0] == '\0') {
        std::printf("  %-30s -> %d\n", call, result);
    } else {
        std::printf("  %-30s -> %-8d %s\n", call, result, meaning);
    }
    std::fflush(stdout);
}

void line(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complainList(const char* format, va_list arguments)
{
    std::fflush(stdout);
    std::fputs("zq4810: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void complain(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    complainList(format, arguments);
    va_end(arguments);
}

const char* axesOf(int mask)
{
    static char text[32];
    int length = std::snprintf(text, sizeof text, "%s", (mask & (mask - 1)) != 0 ? "axes" : "axis");
    const char* separator = " ";
    for (int axis = 0; axis < 4; ++axis) {
        if ((mask & (1 << axis)) != 0) {
            length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "%s%d",
                                    separator, axis);
            separator = ", ";
        }
    }
    return text;
}

} // namespace Output
