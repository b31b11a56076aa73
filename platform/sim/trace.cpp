// The requests the simulated driver received: a log of them one by one, and
// the same as one line of text, e.g. "w5=10 w5=01 r4 r4 r4", so that a test
// states a whole port conversation at once.
#include "platform/sim/internal.h"
#include "platform/sim/record_log.h"
#include "platform/sim/text.h"

namespace {

constexpr int MaxRequests = 1024;

Sim::RecordLog<Sim::PortRequest, MaxRequests> requests;

char traceText[16384];
int traceLength;
bool traceFull;

void append(const char* text)
{
    const int needed = SimText::length(text);
    const int separator = traceLength > 0 ? 1 : 0;
    if (traceFull || traceLength + separator + needed + 2 >= static_cast<int>(sizeof traceText)) {
        if (!traceFull) {
            SimText::copy(traceText + traceLength, 3, " +");
            traceLength += 2;
            traceFull = true;
        }
        return;
    }
    if (separator) {
        traceText[traceLength++] = ' ';
    }
    SimText::copy(traceText + traceLength, needed + 1, text);
    traceLength += needed;
}

char* putDecimal(char* at, uint32_t value)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        *at++ = digits[--n];
    }
    return at;
}

char* putHexByte(char* at, unsigned value)
{
    constexpr char Hex[] = "0123456789ABCDEF";
    *at++ = Hex[(value >> 4) & 0xF];
    *at++ = Hex[value & 0xF];
    return at;
}

// One request as its token: "w5=10", "r4", "?2", with '~' before and '!'
// after as control.h describes.
void appendToken(const Sim::PortRequest& request)
{
    char token[32];
    char* at = token;
    if (request.otherDirection) {
        *at++ = '~';
    }
    *at++ = static_cast<char>(request.kind);
    if (request.kind == Sim::PortRequest::Other) {
        at = putDecimal(at, request.code);
    } else {
        at = putDecimal(at, request.port);
    }
    if (request.kind == Sim::PortRequest::Write) {
        *at++ = '=';
        at = putHexByte(at, request.byte);
    }
    if (request.failed) {
        *at++ = '!';
    }
    *at = '\0';
    append(token);
}

} // namespace

namespace SimTrace {

void record(const Sim::PortRequest& request)
{
    if (Sim::PortRequest* slot = requests.add()) {
        *slot = request;
    }
    appendToken(request);
}

} // namespace SimTrace

namespace Sim {

const char* trace()
{
    return traceText;
}

void clearTrace()
{
    traceLength = 0;
    traceText[0] = '\0';
    traceFull = false;
    requests.clear();
}

int requestCount()
{
    return requests.count();
}

PortRequest request(int index)
{
    return requests.at(index);
}

} // namespace Sim
