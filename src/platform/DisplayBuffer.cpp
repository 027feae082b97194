#include "platform/DisplayBuffer.h"

#include <QGuiApplication>

#include <dlfcn.h>
#include <sys/socket.h>

namespace ew {

void widenDisplayBuffer() {
    const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    // libxcb is loaded with the platform plugin; the program itself does not link it.
    void* xcb = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!xcb)
        return;
    using FileDescriptor = int (*)(xcb_connection_t*);
    const auto fileDescriptor =
        reinterpret_cast<FileDescriptor>(dlsym(xcb, "xcb_get_file_descriptor"));
    if (fileDescriptor) {
        const int size = 1 << 20; // the kernel caps it at net.core.wmem_max
        setsockopt(fileDescriptor(x11->connection()), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    dlclose(xcb);
}

} // namespace ew
