#include "channel/port_channel.h"

#include "zq4810/device.h"
#include "zq4810/result_code.h"
#include "common/user_notice.h"
#include "platform/win32.h"

namespace PortChannel {

namespace {

using Device::ReadCode;
using Device::WriteCode;
constexpr DWORD ReadInputLength = 4;
constexpr DWORD WriteInputLength = 5;
constexpr DWORD ReadDataLength = 1;

constexpr const char Caption[] = "ERROR!";
constexpr const char TextOpenRead[] = "Unable to open the read device.";
constexpr const char TextOpenWrite[] = "Unable to open the write device.";
constexpr const char TextRequestFailed[] = "Ioctl failed, unknown error.";
constexpr const char TextWrongLength[] = "ReturnedLength != DataLength.";
constexpr const char TextCloseRead[] = "Failed to close the read device.";
constexpr const char TextCloseWrite[] = "Failed to close the write device.";

// The request area: both requests' buffers and bookkeeping, overwritten by
// every request and never allocated per call.
struct RequestArea {
    BYTE input[WriteInputLength]; // offset (little-endian), then the byte to write
    BYTE output[ReadDataLength];  // the byte a read returns
    DWORD controlCode;
    DWORD dataLength;
    DWORD returnedLength;
    BOOL succeeded;
};

// Zero at load: a handle of null is not open. A failed opening stores
// INVALID_HANDLE_VALUE, which is not open either.
HANDLE readHandle;
HANDLE writeHandle;
RequestArea request;

bool isOpen(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

i32 fail(const char* text, i32 result)
{
    Notice::UserNotice(text, Caption, Notice::ErrorStyle);
    return result;
}

HANDLE openDevice(DWORD access, DWORD share)
{
    return CreateFileA(Device::Name, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

void putOffset(u32 offset)
{
    request.input[0] = static_cast<BYTE>(offset);
    request.input[1] = static_cast<BYTE>(offset >> 8);
    request.input[2] = static_cast<BYTE>(offset >> 16);
    request.input[3] = static_cast<BYTE>(offset >> 24);
}

// Sends the request area's request on a handle. A handle that is not open is
// never passed to the system: on Windows INVALID_HANDLE_VALUE is the current
// process, and a request on it must not be mistaken for one that reached the
// driver. Such a request counts as failed.
bool send(HANDLE handle, DWORD inputLength, LPVOID output, DWORD outputLength)
{
    request.succeeded = isOpen(handle) && DeviceIoControl(handle, request.controlCode, request.input,
                                                          inputLength, output, outputLength,
                                                          &request.returnedLength, nullptr);
    return request.succeeded != FALSE;
}

// Closing a handle that is not open is a failed close; CloseHandle is not
// asked, since it would report success for INVALID_HANDLE_VALUE.
bool closeDevice(HANDLE handle)
{
    return isOpen(handle) && CloseHandle(handle) != FALSE;
}

} // namespace

i32 openChannel()
{
    // Opening again while handles are open replaces them; close the old ones
    // first so nothing leaks and a driver that allows one opening still works.
    closeDevice(readHandle);
    closeDevice(writeHandle);
    writeHandle = nullptr;

    readHandle = openDevice(GENERIC_READ, FILE_SHARE_READ);
    if (!isOpen(readHandle)) {
        return fail(TextOpenRead, ResultCode::Failure);
    }
    writeHandle = openDevice(GENERIC_WRITE, FILE_SHARE_WRITE);
    if (!isOpen(writeHandle)) {
        return fail(TextOpenWrite, ResultCode::Failure);
    }
    return ResultCode::Success;
}

i32 readPort(u32 offset)
{
    request.controlCode = ReadCode;
    request.dataLength = ReadDataLength;
    putOffset(offset);
    if (!send(readHandle, ReadInputLength, request.output, ReadDataLength)) {
        return fail(TextRequestFailed, ResultCode::Failure);
    }
    if (request.returnedLength != request.dataLength) {
        return fail(TextWrongLength, ResultCode::WrongLength);
    }
    return request.output[0];
}

i32 writePort(u32 offset, i32 value)
{
    request.controlCode = WriteCode;
    putOffset(offset);
    request.input[4] = static_cast<BYTE>(value);
    request.dataLength = WriteInputLength;
    if (!send(writeHandle, WriteInputLength, nullptr, 0)) {
        return fail(TextRequestFailed, ResultCode::Failure);
    }
    return ResultCode::Success;
}

i32 closeChannel()
{
    i32 result = ResultCode::Success;
    if (!closeDevice(readHandle)) {
        result += fail(TextCloseRead, ResultCode::Failure);
    }
    if (!closeDevice(writeHandle)) {
        result += fail(TextCloseWrite, ResultCode::Failure);
    }
    readHandle = nullptr;
    writeHandle = nullptr;
    return result;
}

} // namespace PortChannel
