#pragma once

#include <QString>

namespace ew {

// Where the system keeps its programs (the counterpart of the Windows directory); always
// ends in '/'. Honours EW_SYSTEM_PROGRAM_DIR so tests can point it at a folder of their own.
QString systemProgramDir();
// The directory that holds the default log: the application directory when the operator may
// write there, otherwise the per-user data directory (an installed program).
QString defaultLogDir();
// Renames a file that cannot be read to path + mark + the time ("8R1.ini.unreadable-20261208-
// 150000"), so that a new one begins and the old bytes stay for the operator. Empty when the
// rename failed.
QString moveAside(const QString& path, const QString& mark);

} // namespace ew
