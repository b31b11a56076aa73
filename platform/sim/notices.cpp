// The simulated MessageBoxA: records every notice in order, echoes it to
// standard error, and answers questions from a script (Yes when none is left).
#include "platform/sim/control.h"
#include "platform/sim/internal.h"
#include "platform/sim/record_log.h"
#include "platform/sim/text.h"

#ifdef _WIN32
#include <stdio.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int MaxNotices = 256;
constexpr int MaxAnswers = 64;
constexpr UINT ButtonMask = 0x0F;

Sim::RecordLog<Sim::ShownNotice, MaxNotices> notices;
int answers[MaxAnswers];
int answerCount;
int answerNext;
bool quiet; // zero at load: echo on

// Raw writes: the echo must not allocate, so that tests can count the heap
// around the library's calls.
void echo(const char* text)
{
    int length = 0;
    while (text[length] != '\0') {
        ++length;
    }
#ifdef _WIN32
    fwrite(text, 1, static_cast<size_t>(length), stderr);
#else
    ssize_t written = write(2, text, static_cast<size_t>(length));
    (void)written;
#endif
}

} // namespace

extern "C" int WINAPI SimMessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    if (Sim::ShownNotice* notice = notices.add()) {
        SimText::copy(notice->text, sizeof notice->text, lpText);
        SimText::copy(notice->caption, sizeof notice->caption, lpCaption);
        notice->style = uType;
        notice->ownerWindow = hWnd != nullptr;
    }
    if (!quiet) {
        echo("[");
        echo(lpCaption != nullptr ? lpCaption : "");
        echo("] ");
        echo(lpText != nullptr ? lpText : "");
        echo("\n");
    }
    if (answerNext < answerCount) {
        return answers[answerNext++];
    }
    return (uType & ButtonMask) == MB_YESNO ? IDYES : IDOK;
}

namespace SimNotices {

void reset()
{
    Sim::clearNotices();
    answerCount = 0;
    answerNext = 0;
    quiet = false;
}

} // namespace SimNotices

namespace Sim {

int noticeCount()
{
    return notices.count();
}

ShownNotice notice(int index)
{
    return notices.at(index);
}

void clearNotices()
{
    notices.clear();
}

void scriptAnswers(const int* list, int count)
{
    answerCount = 0;
    answerNext = 0;
    for (int i = 0; list != nullptr && i < count && i < MaxAnswers; ++i) {
        answers[answerCount++] = list[i];
    }
}

void echoNotices(bool on)
{
    quiet = !on;
}

} // namespace Sim
