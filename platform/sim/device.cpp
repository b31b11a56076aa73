// The simulated driver behind "\\.\ZQ4810Dev" and the board behind it.
//
// It serves the two requests the real driver serves (control code 0: 4-byte
// offset in, one byte out; control code 1: offset and byte in, nothing out)
// and fails like Windows on a handle that is not open, a wrong length or an
// unknown code. Any number of openings may be open at once.
#include "platform/sim/board_model.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_api.h"
#include "platform/sim/text.h"

#include <stdint.h>

namespace {

constexpr const char DeviceName[] = "\\\\.\\ZQ4810Dev";
constexpr int MaxHandles = 16;
constexpr int MaxOpenCalls = 16;
constexpr uintptr_t FirstHandle = 0x1000; // never null, never INVALID_HANDLE_VALUE
constexpr DWORD ReadCode = 0;
constexpr DWORD WriteCode = 1;

struct DeviceHandle {
    bool open;
    DWORD access;
};

DeviceHandle handles[MaxHandles];
BoardModel::Board board;
bool boardOn;

Sim::Request lastShape;
Sim::OpenCall openCalls[MaxOpenCalls];
int openCallTotal;

DWORD failingAccess;
bool zeroBytes;
int corruptValue[BoardModel::AxisCount][3];

char traceText[16384];
int traceLength;
bool traceFull;

BoardModel::Board& theBoard()
{
    if (!boardOn) {
        BoardModel::powerOn(board);
        boardOn = true;
    }
    return board;
}

DeviceHandle* find(HANDLE handle)
{
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < FirstHandle || (value - FirstHandle) % 4 != 0) {
        return nullptr;
    }
    const uintptr_t slot = (value - FirstHandle) / 4;
    if (slot >= MaxHandles || !handles[slot].open) {
        return nullptr;
    }
    return &handles[slot];
}

void append(const char* text)
{
    int needed = 0;
    while (text[needed] != '\0') {
        ++needed;
    }
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

void traceRequest(DWORD code, const BYTE* input, DWORD inputLength, bool wrongHandle, bool failed)
{
    char token[32];
    char* at = token;
    if (wrongHandle) {
        *at++ = '~';
    }
    const uint32_t offset = inputLength >= 4 && input != nullptr
                                ? static_cast<uint32_t>(input[0] | input[1] << 8 | input[2] << 16) |
                                      static_cast<uint32_t>(input[3]) << 24
                                : 0;
    if (code == ReadCode) {
        *at++ = 'r';
        at = putDecimal(at, offset);
    } else if (code == WriteCode) {
        *at++ = 'w';
        at = putDecimal(at, offset);
        *at++ = '=';
        at = putHexByte(at, inputLength >= 5 && input != nullptr ? input[4] : 0);
    } else {
        *at++ = '?';
        at = putDecimal(at, code);
    }
    if (failed) {
        *at++ = '!';
    }
    *at = '\0';
    append(token);
}

BYTE readByte(uint32_t offset)
{
    BoardModel::Board& b = theBoard();
    if (offset < 2 * BoardModel::AxisCount && offset % 2 == 0) {
        const BoardModel::Axis& axis = b.axes[offset / 2];
        const int corrupt = corruptValue[offset / 2][axis.pointer];
        const BYTE value = BoardModel::readPort(b, offset);
        return corrupt > 0 ? static_cast<BYTE>(corrupt - 1) : value;
    }
    return BoardModel::readPort(b, offset);
}

// What GetLastError would give after the last failed call.
DWORD lastError;

BOOL failWith(DWORD error)
{
    lastError = error;
    return FALSE;
}

} // namespace

extern "C" HANDLE WINAPI SimCreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                        DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                        HANDLE hTemplateFile)
{
    Sim::OpenCall call{};
    SimText::copy(call.name, sizeof call.name, lpFileName);
    call.access = dwDesiredAccess;
    call.share = dwShareMode;
    call.securityAttributes = lpSecurityAttributes != nullptr;
    call.disposition = dwCreationDisposition;
    call.flags = dwFlagsAndAttributes;
    call.templateFile = hTemplateFile != nullptr;

    HANDLE result = INVALID_HANDLE_VALUE;
    const bool injected = SimFaults::hit(Sim::Call::DeviceOpen) ||
                          (failingAccess & dwDesiredAccess) != 0;
    if (!injected && lpFileName != nullptr && SimText::sameNoCase(lpFileName, DeviceName) &&
        dwCreationDisposition == OPEN_EXISTING) {
        for (int slot = 0; slot < MaxHandles; ++slot) {
            if (!handles[slot].open) {
                handles[slot] = DeviceHandle{true, dwDesiredAccess};
                result = reinterpret_cast<HANDLE>(FirstHandle + 4u * static_cast<uintptr_t>(slot));
                break;
            }
        }
    }
    call.succeeded = result != INVALID_HANDLE_VALUE;
    if (openCallTotal < MaxOpenCalls) {
        openCalls[openCallTotal] = call;
    }
    ++openCallTotal;
    return result;
}

extern "C" BOOL WINAPI SimDeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                          DWORD nInBufferSize, LPVOID lpOutBuffer,
                                          DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                          LPOVERLAPPED lpOverlapped)
{
    const bool injected = SimFaults::hit(Sim::Call::DeviceRequest);
    DeviceHandle* handle = find(hDevice);
    if (handle == nullptr) {
        return failWith(ERROR_INVALID_HANDLE);
    }
    const BYTE* input = static_cast<const BYTE*>(lpInBuffer);
    lastShape = Sim::Request{handle->access, dwIoControlCode, nInBufferSize, nOutBufferSize,
                             lpOutBuffer != nullptr, lpOverlapped != nullptr};
    const DWORD needed = dwIoControlCode == ReadCode ? GENERIC_READ : GENERIC_WRITE;
    const bool wrongHandle = (handle->access & needed) == 0;
    // A synchronous request without a byte count is refused, as Windows
    // refuses it.
    const bool malformed =
        lpBytesReturned == nullptr || lpOverlapped != nullptr ||
        (dwIoControlCode == ReadCode &&
         (nInBufferSize != 4 || lpInBuffer == nullptr || nOutBufferSize < 1 || lpOutBuffer == nullptr)) ||
        (dwIoControlCode == WriteCode && (nInBufferSize != 5 || lpInBuffer == nullptr)) ||
        (dwIoControlCode != ReadCode && dwIoControlCode != WriteCode);
    const uint32_t offset = lpInBuffer != nullptr && nInBufferSize >= 4
                                ? static_cast<uint32_t>(input[0] | input[1] << 8 | input[2] << 16) |
                                      static_cast<uint32_t>(input[3]) << 24
                                : 0;
    const bool outOfRange = offset >= BoardModel::PortCount;
    const bool failed = injected || malformed || outOfRange;
    traceRequest(dwIoControlCode, input, nInBufferSize, wrongHandle, failed);
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    if (failed) {
        return failWith(malformed ? ERROR_INVALID_PARAMETER : ERROR_GEN_FAILURE);
    }
    if (dwIoControlCode == ReadCode) {
        const BYTE value = readByte(offset);
        if (!zeroBytes) {
            *static_cast<BYTE*>(lpOutBuffer) = value;
            *lpBytesReturned = 1;
        }
    } else {
        BoardModel::writePort(theBoard(), offset, input[4]);
    }
    return TRUE;
}

extern "C" BOOL WINAPI SimCloseHandle(HANDLE hObject)
{
    const bool injected = SimFaults::hit(Sim::Call::DeviceClose);
    DeviceHandle* handle = find(hObject);
    if (handle == nullptr) {
        return failWith(ERROR_INVALID_HANDLE);
    }
    // An injected failure still releases the handle: the caller has no way to
    // close it again, and a leak check should see only the library's leaks.
    handle->open = false;
    return injected ? failWith(ERROR_GEN_FAILURE) : TRUE;
}

namespace SimDevice {

void reset()
{
    for (DeviceHandle& handle : handles) {
        handle = DeviceHandle{false, 0};
    }
    BoardModel::powerOn(board);
    boardOn = true;
    openCallTotal = 0;
    lastShape = Sim::Request{};
    failingAccess = 0;
    zeroBytes = false;
    for (auto& axis : corruptValue) {
        for (int& value : axis) {
            value = 0;
        }
    }
    Sim::clearTrace();
}

} // namespace SimDevice

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
}

Request lastRequest()
{
    return lastShape;
}

int openCallCount()
{
    return openCallTotal;
}

OpenCall openCall(int index)
{
    if (index < 0 || index >= MaxOpenCalls || index >= openCallTotal) {
        return OpenCall{};
    }
    return openCalls[index];
}

int openDeviceHandles()
{
    int open = 0;
    for (const DeviceHandle& handle : handles) {
        open += handle.open ? 1 : 0;
    }
    return open;
}

void failOpening(uint32_t access)
{
    failingAccess |= access;
}

void zeroByteReads(bool on)
{
    zeroBytes = on;
}

void corruptEcho(int axis, int byteIndex, int value)
{
    if (axis < 0 || axis >= static_cast<int>(BoardModel::AxisCount) || byteIndex < 0 || byteIndex > 2) {
        return;
    }
    // Stored plus one, so that zero means "not corrupted".
    corruptValue[axis][byteIndex] = value < 0 ? 0 : (value & 0xFF) + 1;
}

void moveAxis(int axis, int cycles)
{
    BoardModel::move(theBoard(), static_cast<BoardModel::Word>(axis), cycles);
}

void setCounter(int axis, uint32_t value)
{
    if (axis >= 0 && axis < static_cast<int>(BoardModel::AxisCount)) {
        theBoard().axes[axis].counter = value & BoardModel::CounterMask;
    }
}

uint32_t counter(int axis)
{
    return axis >= 0 && axis < static_cast<int>(BoardModel::AxisCount) ? theBoard().axes[axis].counter : 0;
}

uint32_t preset(int axis)
{
    return axis >= 0 && axis < static_cast<int>(BoardModel::AxisCount) ? theBoard().axes[axis].preset : 0;
}

int multiplier(int axis)
{
    return axis >= 0 && axis < static_cast<int>(BoardModel::AxisCount) ? theBoard().axes[axis].multiplier : 0;
}

int modePort(int port)
{
    const int index = port - static_cast<int>(BoardModel::FirstModePort);
    return index >= 0 && index < static_cast<int>(BoardModel::ModePortCount) ? theBoard().modePorts[index]
                                                                             : -1;
}

} // namespace Sim
