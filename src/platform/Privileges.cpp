#include "platform/Privileges.h"

#include "echo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ew {
namespace {

struct Capabilities {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};

    bool read() { return syscall(SYS_capget, &header, data) == 0; }
    bool write() { return syscall(SYS_capset, &header, data) == 0; }
    bool any() const {
        return std::ranges::any_of(
            data, [](const auto& d) { return d.effective | d.permitted | d.inheritable; });
    }
    static constexpr unsigned bit(int cap) { return 1u << (cap % 32); }
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "EchoWarden: could not drop privileges (%s: %s)\n", what,
                 std::strerror(errno));
    std::_Exit(EXIT_FAILURE);
}

} // namespace

void dropPrivileges() {
    Capabilities caps;
    if (!caps.read() || !caps.any())
        return;

    auto& netRaw = caps.data[CAP_NET_RAW / 32];
    if (netRaw.permitted & Capabilities::bit(CAP_NET_RAW)) {
        // A file capability may come permitted only; the sockets need it effective.
        if (!(netRaw.effective & Capabilities::bit(CAP_NET_RAW))) {
            netRaw.effective |= Capabilities::bit(CAP_NET_RAW);
            caps.write();
        }
        echo_open_raw_sockets();
    }

    // The bounding set needs CAP_SETPCAP (root has it, a setcap'ed program does not); with
    // no-new-privileges and empty sets, a program started later gains nothing either way.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    for (int cap = 0; cap < 64 && prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        fail("no-new-privileges");
    for (auto& d : caps.data)
        d = {};
    if (!caps.write())
        fail("capset");
    if (!caps.read() || caps.any())
        fail("capget");
}

} // namespace ew
