#include "tools/zq4810/args.h"

#include <climits>
#include <cstdio>

namespace Args {

namespace {

int digitValue(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

bool within(const char* text, const char* what, int low, int high, const char* range, int* value,
            Error* error)
{
    int n = 0;
    if (!number(text, what, &n, error)) {
        return false;
    }
    if (n < low || n > high) {
        std::snprintf(error->text, sizeof error->text, "%s %s is outside %s", what, text, range);
        return false;
    }
    *value = n;
    return true;
}

} // namespace

bool number(const char* text, const char* what, int* value, Error* error)
{
    const char* at = text;
    const bool negative = *at == '-';
    if (*at == '-' || *at == '+') {
        ++at;
    }
    int base = 10;
    if (at[0] == '0' && (at[1] == 'x' || at[1] == 'X')) {
        base = 16;
        at += 2;
    }
    // Digits are summed in 64 bits and stopped well before they could
    // overflow: anything past 2^32 is out of range anyway.
    long long magnitude = 0;
    bool tooLarge = false;
    if (*at == '\0') {
        std::snprintf(error->text, sizeof error->text, "%s '%s' is not a number", what, text);
        return false;
    }
    for (; *at != '\0'; ++at) {
        const int digit = digitValue(*at, base);
        if (digit < 0) {
            std::snprintf(error->text, sizeof error->text, "%s '%s' is not a number", what, text);
            return false;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFLL) {
            tooLarge = true;
            magnitude = 0xFFFFFFFFLL;
        }
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (tooLarge || signedValue < INT_MIN || signedValue > INT_MAX) {
        std::snprintf(error->text, sizeof error->text, "%s %s is out of the 32-bit range", what, text);
        return false;
    }
    *value = static_cast<int>(signedValue);
    return true;
}

bool axis(const char* text, int* value, Error* error)
{
    return within(text, "axis", 0, 3, "0..3", value, error);
}

bool multiplier(const char* text, int* value, Error* error)
{
    int n = 0;
    if (!number(text, "multiplier", &n, error)) {
        return false;
    }
    if (n != 1 && n != 2 && n != 4) {
        std::snprintf(error->text, sizeof error->text, "multiplier %s is not 1, 2 or 4", text);
        return false;
    }
    *value = n;
    return true;
}

bool selector(const char* text, int* value, Error* error)
{
    return within(text, "selector", 0, 4, "0..4", value, error);
}

bool mode(const char* text, int* value, Error* error)
{
    return within(text, "mode", 0, 15, "0..15", value, error);
}

bool preset(const char* text, int* value, Error* error)
{
    return within(text, "preset", MinPreset, MaxPreset, "-8388608..16777215", value, error);
}

bool baseAddress(const char* text, int* value, Error* error)
{
    // A base the driver would refuse at the next start is refused now, while
    // the user is still at the command.
    static_assert(MaxBase == 0xFFF0, "the range text below names the highest base");
    return within(text, "base address", 0, MaxBase, "0..0xFFF0, where the board's 16 ports end by port 0xFFFF",
                  value, error);
}

bool count(const char* text, int* value, Error* error)
{
    return within(text, "count", 1, INT_MAX, "1..2147483647", value, error);
}

} // namespace Args
