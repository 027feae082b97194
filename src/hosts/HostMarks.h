#pragma once

#include "engine/HostStates.h"

#include <QIcon>

namespace ew {

// The marks of the three states, drawn rather than loaded so that they scale with the font.
// Each differs from the others in shape as well as colour, for an operator who cannot tell
// red from green: up is a filled green disc, down a red triangle pointing down, not yet known
// a hollow grey ring.
QIcon hostMark(HostState state, int size);

// The program's icon for the tray: bare while stopped, with the mark of the run in a corner
// while monitoring (up while no entry is down).
QIcon trayMark(const QIcon& programIcon, bool monitoring, bool someDown);

} // namespace ew
