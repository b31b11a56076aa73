// PortChannel: the library's only road to the board's I/O ports.
//
// The driver behind "\\.\ZQ4810Dev" reads or writes one port byte per device
// request. The channel keeps two handles to it, one opened for reading and
// one for writing, and a single request area shared by every request.
#pragma once

#include "common/types.h"

namespace PortChannel {

// 0 when both handles are open, 255 when either opening failed (a failed
// write opening leaves the read handle open).
i32 openChannel();

// The byte read (0..255); 1 when the driver returned a length other than one
// byte; 255 when the request failed. Each failure shows its notice.
i32 readPort(u32 offset);

// Sends the low 8 bits of value; 0 on success, 255 on failure.
i32 writePort(u32 offset, i32 value);

// 0, 255 or 510: 255 for each handle that could not be closed. Both handles
// are not open afterwards, whatever the close calls reported.
i32 closeChannel();

} // namespace PortChannel
