// Every failure the library detects is shown to the user at the place it is
// detected, before its number is returned: a modal message box with no owner
// window.
#pragma once

#include "common/types.h"

namespace Notice {

// Styles in use: the error icon with an OK button, and a plain Yes/No question.
constexpr u32 ErrorStyle = 0x10;
constexpr u32 QuestionStyle = 0x04;
// The answer a Yes/No question gives for No.
constexpr i32 AnswerNo = 7;

// Shows the notice and returns the button the user pressed.
i32 UserNotice(const char* text, const char* caption, u32 style);

} // namespace Notice
