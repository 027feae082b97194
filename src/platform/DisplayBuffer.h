#pragma once

namespace ew {

// Gives the connection to an X display a send buffer of a megabyte. The pixels of a pass (some
// 35 KB of rows at the default size, several times that in a wide window or over many hosts)
// can fill a quarter of the default 208 KB, past which the socket no longer reads as writable:
// the rest of the pass's drawing then sleeps until the display server has read the rows, and
// wakes again. Nothing on other platforms, or when the connection cannot be reached.
void widenDisplayBuffer();

} // namespace ew
