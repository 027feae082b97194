#pragma once

namespace ew {

// Called first thing in main(), before anything is loaded from a path that the environment
// chooses. A process that holds any capability (CAP_NET_RAW from setcap, or root's) keeps only
// what it needs of it: where ping sockets are refused, the raw sockets the echo will use are
// opened now; then every capability is dropped for good and no-new-privileges is set, so that
// neither a plugin nor a program started later can act with it. A process without
// capabilities is left as it is. Ends the process should the drop fail.
void dropPrivileges();

} // namespace ew
