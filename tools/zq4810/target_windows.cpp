// The tool on Windows: the library talks to the real driver, and the board's
// axes move only when the machine moves them.
#include "tools/zq4810/target.h"

#include <cstdio>
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

Presence registryKey(const char* path)
{
    // Opened for reading its values only, never created.
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    if (opened == ERROR_SUCCESS) {
        RegCloseKey(key);
        return Presence::Present;
    }
    return opened == ERROR_FILE_NOT_FOUND ? Presence::Absent : Presence::Unknown;
}

bool removeRegistryKey(const char* path)
{
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
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

long long milliseconds()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart / (frequency.QuadPart / 1000);
}

void timestamp(char* text, std::size_t size)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::snprintf(text, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
}

} // namespace Target
