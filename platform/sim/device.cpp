// The simulated driver's device, "\\.\ZQ4810Dev": its handles and the two
// requests the real driver serves (control code 0: 4-byte offset in, one
// byte out; control code 1: offset and byte in, nothing out). It fails like
// Windows on a handle that is not open, a wrong length or an unknown code.
// Any number of openings may be open at once. The ports behind it are
// ports.cpp's; every request is logged by trace.cpp.
#include "platform/sim/internal.h"
#include "zq4810/device.h"
#include "platform/sim/record_log.h"
#include "platform/sim/text.h"

#include <stdint.h>

namespace {

using Device::ReadCode;
using Device::WriteCode;
constexpr int MaxHandles = 16;
constexpr int MaxOpenCalls = 16;
constexpr uintptr_t FirstHandle = 0x1000; // never null, never INVALID_HANDLE_VALUE

struct DeviceHandle {
    bool open;
    DWORD access;
};

DeviceHandle handles[MaxHandles];

Sim::Request lastShape;
Sim::RecordLog<Sim::OpenCall, MaxOpenCalls> openCalls;

DWORD failingAccess;
DWORD readReply = 1;

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

uint32_t offsetIn(const BYTE* input, DWORD length)
{
    return input != nullptr && length >= 4 ? static_cast<uint32_t>(input[0] | input[1] << 8 | input[2] << 16) |
                                                 static_cast<uint32_t>(input[3]) << 24
                                           : 0;
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
    if (!injected && lpFileName != nullptr && SimText::sameNoCase(lpFileName, Device::Name) &&
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
    if (Sim::OpenCall* slot = openCalls.add()) {
        *slot = call;
    }
    return result;
}

extern "C" BOOL WINAPI SimDeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                          DWORD nInBufferSize, LPVOID lpOutBuffer,
                                          DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                          LPOVERLAPPED lpOverlapped)
{
    // A program on the simulated machine may have set its axes moving; every
    // binding's requests come through here.
    SimMotion::catchUp();
    const bool injected = SimFaults::hit(Sim::Call::DeviceRequest);
    DeviceHandle* handle = find(hDevice);
    if (handle == nullptr) {
        return FALSE;
    }
    const BYTE* input = static_cast<const BYTE*>(lpInBuffer);
    lastShape = Sim::Request{handle->access, dwIoControlCode, nInBufferSize, nOutBufferSize,
                             lpOutBuffer != nullptr, lpOverlapped != nullptr};
    const DWORD needed = dwIoControlCode == ReadCode ? GENERIC_READ : GENERIC_WRITE;
    // A synchronous request without a byte count is refused, as Windows
    // refuses it.
    const bool malformed =
        lpBytesReturned == nullptr || lpOverlapped != nullptr ||
        (dwIoControlCode == ReadCode &&
         (nInBufferSize != 4 || lpInBuffer == nullptr || nOutBufferSize < 1 || lpOutBuffer == nullptr)) ||
        (dwIoControlCode == WriteCode && (nInBufferSize != 5 || lpInBuffer == nullptr)) ||
        (dwIoControlCode != ReadCode && dwIoControlCode != WriteCode);
    Sim::PortRequest request{};
    request.kind = dwIoControlCode == ReadCode    ? Sim::PortRequest::Read
                   : dwIoControlCode == WriteCode ? Sim::PortRequest::Write
                                                  : Sim::PortRequest::Other;
    request.code = dwIoControlCode;
    request.port = offsetIn(input, nInBufferSize);
    request.byte = dwIoControlCode == WriteCode && input != nullptr && nInBufferSize >= 5 ? input[4] : 0;
    request.failed = injected || malformed || request.port >= Hardware::PortCount;
    request.handleAccess = handle->access;
    request.otherDirection = (handle->access & needed) == 0;
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    if (request.failed) {
        SimTrace::record(request);
        return FALSE;
    }
    if (dwIoControlCode == ReadCode) {
        request.byte = SimPorts::read(request.port);
        if (readReply > 0) {
            *static_cast<BYTE*>(lpOutBuffer) = request.byte;
            *lpBytesReturned = readReply;
        }
    } else {
        SimPorts::write(request.port, request.byte);
    }
    SimTrace::record(request);
    return TRUE;
}

extern "C" BOOL WINAPI SimCloseHandle(HANDLE hObject)
{
    const bool injected = SimFaults::hit(Sim::Call::DeviceClose);
    DeviceHandle* handle = find(hObject);
    if (handle == nullptr) {
        return FALSE;
    }
    // An injected failure still releases the handle: the caller has no way to
    // close it again, and a leak check should see only the library's leaks.
    handle->open = false;
    return injected ? FALSE : TRUE;
}

namespace SimDevice {

void reset()
{
    for (DeviceHandle& handle : handles) {
        handle = DeviceHandle{false, 0};
    }
    openCalls.clear();
    lastShape = Sim::Request{};
    failingAccess = 0;
    readReply = 1;
}

} // namespace SimDevice

namespace Sim {

Request lastRequest()
{
    return lastShape;
}

int openCallCount()
{
    return openCalls.count();
}

OpenCall openCall(int index)
{
    return openCalls.at(index);
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

void readReplyLength(uint32_t length)
{
    readReply = length;
}

} // namespace Sim
