// The run-time library's strings and the debug print: RtlInitUnicodeString,
// the counted strings the kernel reads and makes, and DbgPrint into the log.
#include "emulator/kernel_internal.h"

#include <cstdio>
#include <cstring>

namespace Kernel {
namespace {

using Emulator::Convention;

void appendLog(const char* text)
{
    const size_t length = std::strlen(text);
    if (state.logLength + length + 1 < sizeof state.log) {
        std::memcpy(state.log + state.logLength, text, length + 1);
        state.logLength += length;
    }
}

struct DbgPrintArguments {
    uint64_t format; // and what it asks for, as cdecl passes it
};

// DbgPrint's format, with the guest's arguments after it: the conversions a
// driver's messages use.
uint64_t dbgPrint(const DbgPrintArguments& a)
{
    char format[256], out[512];
    if (!Emulator::guestText(cpu(), a.format, format, sizeof format)) {
        breach(Rule::SystemArgument, "DbgPrint given a format at 0x%llx that the kernel cannot read",
               static_cast<unsigned long long>(a.format));
        return 0;
    }
    int next = 1;
    size_t length = 0;
    for (const char* at = format; *at != '\0' && length + 1 < sizeof out; ++at) {
        if (*at != '%') {
            out[length++] = *at;
            continue;
        }
        char spec[16] = "%";
        size_t n = 1;
        ++at;
        while (n < sizeof spec - 3 && *at != '\0' && std::strchr("0123456789-", *at) != nullptr) {
            spec[n++] = *at++;
        }
        while (*at == 'l' || *at == 'h') {
            ++at; // every argument is a machine word here
        }
        const char conversion = *at;
        char piece[160] = "";
        const uint64_t value = conversion == '%' ? 0 : Emulator::argument(cpu(), Convention::Cdecl, next++);
        spec[n++] = conversion == 'p' ? 'x' : conversion;
        spec[n] = '\0';
        switch (conversion) {
        case '%': std::snprintf(piece, sizeof piece, "%%"); break;
        case 'd':
        case 'i': std::snprintf(piece, sizeof piece, spec, static_cast<int>(value)); break;
        case 'u':
        case 'x':
        case 'X':
        case 'p': std::snprintf(piece, sizeof piece, spec, static_cast<unsigned>(value)); break;
        case 'c': std::snprintf(piece, sizeof piece, spec, static_cast<int>(value & 0xFF)); break;
        case 's': {
            char text[128];
            if (!Emulator::guestText(cpu(), value, text, sizeof text)) {
                breach(Rule::SystemArgument, "DbgPrint given a string at 0x%llx that the kernel cannot read",
                       static_cast<unsigned long long>(value));
                return 0;
            }
            std::snprintf(piece, sizeof piece, spec, text);
            break;
        }
        default:
            breach(Rule::Unsupported, "DbgPrint asked for the conversion %%%c, which this kernel does not print",
                   conversion);
            return 0;
        }
        for (const char* p = piece; *p != '\0' && length + 1 < sizeof out; ++p) {
            out[length++] = *p;
        }
        if (conversion == '\0') {
            break;
        }
    }
    out[length] = '\0';
    appendLog(out);
    return StatusSuccess;
}

struct InitUnicodeStringArguments {
    uint64_t destination, source;
};

uint64_t rtlInitUnicodeString(const InitUnicodeStringArguments& a)
{
    const Layout& l = state.layout;
    if (!output(a.destination, l.StringBuffer + pointerSize())) {
        return 0;
    }
    uint16_t characters = 0;
    while (a.source != 0 && characters < 0x7FFE && read16(a.source + 2u * characters) != 0) {
        ++characters;
    }
    write16(a.destination + l.StringLength, static_cast<uint16_t>(2 * characters));
    write16(a.destination + l.StringMaximumLength, static_cast<uint16_t>(a.source != 0 ? 2 * characters + 2 : 0));
    writePointer(a.destination + l.StringBuffer, a.source);
    return 0;
}

constexpr Emulator::SystemFunction Rows[] = {
    Emulator::function<DbgPrintArguments, dbgPrint>(Ntoskrnl, "DbgPrint", Convention::Cdecl),
    Emulator::function<InitUnicodeStringArguments, rtlInitUnicodeString>(Ntoskrnl, "RtlInitUnicodeString"),
};

} // namespace

const Emulator::FunctionTable RtlFunctions = Emulator::tableOf(Rows);

bool readName(uint64_t string, char* into, size_t size)
{
    into[0] = '\0';
    const uint16_t length = read16(string + state.layout.StringLength);
    const uint64_t buffer = readPointer(string + state.layout.StringBuffer);
    uint8_t wide[2 * MaxName];
    if (string == 0 || length % 2 != 0 || length / 2 >= size || length > sizeof wide ||
        !Emulator::readGuest(cpu(), buffer, wide, length)) {
        breach(Rule::SystemArgument, "%s given a name at 0x%llx that the kernel cannot read", called(),
               static_cast<unsigned long long>(string));
        return false;
    }
    for (uint16_t i = 0; i < length / 2; ++i) {
        const unsigned c = static_cast<unsigned>(wide[2 * i] | wide[2 * i + 1] << 8);
        into[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    into[length / 2] = '\0';
    return true;
}

uint64_t unicodeString(const char* text)
{
    const Layout& l = state.layout;
    const size_t length = std::strlen(text);
    const uint64_t string = allocate(static_cast<uint32_t>(l.StringBuffer + pointerSize() + 2 * length + 2));
    const uint64_t buffer = string + l.StringBuffer + pointerSize();
    for (size_t i = 0; i < length; ++i) {
        write16(buffer + 2 * i, static_cast<uint8_t>(text[i]));
    }
    write16(string + l.StringLength, static_cast<uint16_t>(2 * length));
    write16(string + l.StringMaximumLength, static_cast<uint16_t>(2 * length + 2));
    writePointer(string + l.StringBuffer, buffer);
    return string;
}

} // namespace Kernel
