#pragma once

#include <QString>

namespace ew {

// Where the system keeps its programs (the counterpart of the Windows directory); always
// ends in '/'. Honours EW_SYSTEM_PROGRAM_DIR so tests can point it at a folder of their own.
QString systemProgramDir();
// The directory of the program's executable, without a trailing '/' unless it is "/".
QString applicationDir();
// The directory that holds the default log: the application directory when the operator may
// write there, otherwise the per-user data directory (an installed program).
QString defaultLogDir();

} // namespace ew
