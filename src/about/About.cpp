#include "about/About.h"

#include "about/frmAbout.h"

namespace ew {

About::About(QWidget& window, ProgramState& state, Settings& settings, ToolTips& tips,
             Launcher& launcher, MessageBoxes& messages)
    : window_(window), state_(state), settings_(settings), tips_(tips), launcher_(launcher),
      messages_(messages) {}
About::~About() = default;

void About::mnuAbout_Click() {}
frmAbout* About::box() const { return box_; }

} // namespace ew
