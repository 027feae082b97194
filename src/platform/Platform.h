#pragma once

#include "platform/Beeper.h"
#include "platform/Clock.h"
#include "platform/Echo.h"
#include "platform/Launcher.h"
#include "platform/MessageBoxes.h"
#include "platform/Notifier.h"
#include "platform/SettingsStore.h"
#include "platform/WindowProbe.h"

namespace ew {

// Everything that reaches outside the process, handed to the main window in one piece.
struct Platform {
    Echo& echo;
    SettingsStore& store;
    Clock& clock;
    MessageBoxes& messages;
    Launcher& launcher;
    Beeper& beeper;
    WindowProbe& windows;
    // Optional, so that a window made without a desktop (a benchmark) needs none.
    Notifier& notifier = silentNotifier();
};

} // namespace ew
