// The tool on Windows: the library talks to the real driver, and the board's
// axes move only when the machine moves them.
#include "tools/zq4810/target.h"

#include <io.h>
#include <windows.h>

namespace Target {

const char* name()
{
    return "this computer's board driver";
}

const char* noticeForm()
{
    return "message boxes";
}

const char* prepare()
{
    return nullptr;
}

bool moveAxis(int, int)
{
    return false;
}

bool restartMachine()
{
    return false;
}

void letAxesDrift()
{
}

bool isTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

void pause(int milliseconds)
{
    Sleep(static_cast<DWORD>(milliseconds));
}

} // namespace Target
