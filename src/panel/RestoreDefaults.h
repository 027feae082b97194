#pragma once

#include <cstdint>

namespace ew::restore {

// The values of Restore Defaults. UpdateRestoreMenu compares the watched settings with them;
// Beep and logging of failed pings are on here, although a first run starts with them off.
inline constexpr std::int16_t Attempts = 1;
inline constexpr std::int16_t Interval = 5;
inline constexpr std::int16_t NumBytes = 16;
inline constexpr std::int16_t Timeout = 3;
inline constexpr int Beep = 1;
inline constexpr int LogFailed = 1;
inline constexpr bool Minutes = true;
inline constexpr bool SaveOnExit = true;

} // namespace ew::restore
