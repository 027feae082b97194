#pragma once

namespace ew {

// The first character of a result line: a reply opens with the control character 26 (drawn as
// a right arrow by the results list), a failure with a dagger. The log and copied text keep
// them as they are.
inline constexpr char16_t ReplyMark = 0x001A;
inline constexpr char16_t FailureMark = 0x2020;

} // namespace ew
