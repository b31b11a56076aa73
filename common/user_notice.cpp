#include "common/user_notice.h"

#include "platform/win32.h"

namespace Notice {

i32 UserNotice(const char* text, const char* caption, u32 style)
{
    return MessageBoxA(nullptr, text, caption, style);
}

} // namespace Notice
