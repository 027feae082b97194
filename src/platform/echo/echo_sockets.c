/* echo_sockets.c - which socket an echo request goes out on, and opening it.
 *
 * Each thread keeps one socket per address family open between calls, because opening and
 * filtering a socket costs about as much as a whole echo over loopback. Keeping them per thread
 * means a reply can only ever be read by the thread waiting for it; the thread's record (see
 * echo_calls.c) has them closed when the thread ends and dropped in the child of a fork.
 *
 * A program that drops its capabilities at start hands over raw sockets opened beforehand
 * (echo_open_raw_sockets); those are shared by every thread, one attempt at a time.
 */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "echo_internal.h"
#include "echoping.h"

#include <errno.h>
#include <linux/filter.h>
#include <netinet/icmp6.h>
#include <stdatomic.h>
#include <stdio.h>
#include <unistd.h>

/* From linux/icmp.h, which cannot be included next to the libc headers. */
#ifndef ICMP_FILTER
#define ICMP_FILTER 1
#endif

/* The pre-opened raw sockets: [0] IPv4, [1] IPv6; busy while an attempt uses one. */
struct shared_socket {
    struct echo_socket s;
    int busy;
};

static unsigned process_id;
static atomic_int socket_mode = ECHO_SOCKET_AUTO;
static atomic_uint next_ident;
static atomic_int hint_shown;
/* guarded by the component's lock, which is broadcast when one is released */
static struct shared_socket shared[2] = {{{-1, KIND_NONE, 0}, 0}, {{-1, KIND_NONE, 0}, 0}};

void echo_sockets_init(unsigned pid) {
    process_id = pid;
}

static void close_socket(struct echo_socket* s) {
    if (s->fd >= 0)
        close(s->fd);
    s->fd = -1;
    s->kind = KIND_NONE;
}

void echo_close_sockets(struct echo_thread* t) {
    close_socket(&t->sock[0]);
    close_socket(&t->sock[1]);
}

/* The child of a fork shares our sockets; were it to ping, it could read our replies. No other
 * thread is left to finish an attempt on a shared socket. */
void echo_sockets_after_fork(void) {
    echo_close_sockets(echo_this_thread());
    shared[0].busy = shared[1].busy = 0;
}

/* Identifiers of this process's raw sockets: the first is the pid (as other ping programs do),
 * the rest are spread out so that two threads never share one. */
static uint16_t new_ident(void) {
    unsigned n = atomic_fetch_add(&next_ident, 1u);
    return (uint16_t)(process_id ^ (n * 0x9E37u));
}

/* A raw socket is handed every echo reply on the machine (and, on loopback, our own requests).
 * The ICMP type filter and a BPF program on the identifier keep all of that out of our receive
 * queue, so that other programs' traffic can neither fill it nor cost us wake-ups. */
static void filter_raw_socket(int fd, int family, uint16_t ident) {
    if (family == AF_INET) {
        uint32_t blocked = ~(1u << ICMP4_ECHO_REPLY);
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &blocked, sizeof blocked);
    } else {
        struct icmp6_filter types;
        ICMP6_FILTER_SETBLOCKALL(&types);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &types);
        setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types);
    }
    /* X = where the ICMP header starts: after the IPv4 header, or at 0 on ICMPv6 sockets,
     * which are handed no IP header. */
    struct sock_filter code[] = {
        family == AF_INET ? (struct sock_filter)BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0)
                          : (struct sock_filter)BPF_STMT(BPF_LDX | BPF_IMM, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), /* A = ICMP identifier */
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ident, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    struct sock_fprog prog = {(unsigned short)(sizeof code / sizeof code[0]), code};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog);
    /* Should a filter be refused, the checks on every reply in echoping.c still hold. */
}

/* Returns 0 or the errno of socket(). */
static int open_socket(int family, int kind, struct echo_socket* s) {
    int type = (kind == KIND_DGRAM ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC;
    int fd = socket(family, type, family == AF_INET ? IPPROTO_ICMP : IPPROTO_ICMPV6);
    if (fd < 0)
        return errno;
    s->fd = fd;
    s->kind = kind;
    s->ident = 0;
    if (kind == KIND_RAW) {
        s->ident = new_ident();
        filter_raw_socket(fd, family, s->ident);
    }
    return 0;
}

static void permission_hint(void) {
    if (atomic_exchange(&hint_shown, 1))
        return;
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        snprintf(exe, sizeof exe, "%s", "<program>");
    else
        exe[n] = '\0';
    fprintf(stderr,
            "%s: no permission to send ICMP echo requests, so every ping will fail.\n"
            "  Allow ping sockets for all groups:  sysctl -w net.ipv4.ping_group_range=\"0 "
            "2147483647\"\n"
            "  or allow raw sockets for the program: setcap cap_net_raw+ep %s\n",
            program_invocation_short_name, exe);
}

static int mode_allows(int mode, int kind) {
    return mode == ECHO_SOCKET_AUTO || (mode == ECHO_SOCKET_DGRAM_ONLY && kind == KIND_DGRAM) ||
           (mode == ECHO_SOCKET_RAW_ONLY && kind == KIND_RAW);
}

/* Takes the family's shared raw socket for one attempt, waiting while another thread has it;
 * -1 when there is none. */
static int take_shared(int family, int64_t deadline, unsigned since, struct echo_socket** out) {
    struct shared_socket* sh = &shared[family == AF_INET6];
    int result = ECHO_TIMEOUT;
    echo_lock();
    for (;;) {
        if (sh->s.fd < 0) {
            result = -1;
            break;
        }
        if (echo_interrupted(since)) {
            result = ECHO_INTERRUPTED;
            break;
        }
        if (!sh->busy) {
            sh->busy = 1;
            *out = &sh->s;
            result = ECHO_OK;
            break;
        }
        if (!echo_wait_changed(deadline))
            break;
    }
    echo_unlock();
    return result;
}

int echo_is_shared(const struct echo_socket* s) {
    return s == &shared[0].s || s == &shared[1].s;
}

/* Ends an attempt on a socket from echo_get_socket(): a shared one goes back to the others. */
void echo_put_socket(struct echo_socket* s) {
    if (!echo_is_shared(s))
        return;
    echo_lock();
    ((struct shared_socket*)s)->busy = 0;
    echo_broadcast_changed();
    echo_unlock();
}

/* A socket for one attempt to family, or why there is none. */
int echo_get_socket(int family, int64_t deadline, unsigned since, struct echo_socket** out) {
    int mode = atomic_load_explicit(&socket_mode, memory_order_relaxed);
    /* Shared raw sockets are only there because ping sockets were refused at start. */
    if (mode != ECHO_SOCKET_DGRAM_ONLY) {
        int result = take_shared(family, deadline, since, out);
        if (result != -1)
            return result;
    }
    struct echo_socket* s = &echo_thread_state()->sock[family == AF_INET6];
    *out = s;
    if (s->fd >= 0) {
        if (mode_allows(mode, s->kind))
            return ECHO_OK;
        close_socket(s);
    }
    int errors[2];
    int tried = 0;
    if (mode != ECHO_SOCKET_RAW_ONLY) {
        errors[tried] = open_socket(family, KIND_DGRAM, s);
        if (errors[tried++] == 0)
            return ECHO_OK;
    }
    if (mode != ECHO_SOCKET_DGRAM_ONLY) {
        errors[tried] = open_socket(family, KIND_RAW, s);
        if (errors[tried++] == 0)
            return ECHO_OK;
    }
    /* Only call it a matter of permission when nothing else (no memory, no file descriptors,
     * no IPv6) got in the way. */
    int refused = 0, other = 0;
    for (int i = 0; i < tried; ++i) {
        if (errors[i] == EACCES || errors[i] == EPERM)
            refused = 1;
        else if (errors[i] != EPROTONOSUPPORT && errors[i] != ESOCKTNOSUPPORT)
            other = 1;
    }
    if (refused && !other) {
        permission_hint();
        return ECHO_NO_PERMISSION;
    }
    return ECHO_SEND_ERROR;
}

int echo_set_socket_mode(int mode) {
    if (mode != ECHO_SOCKET_AUTO && mode != ECHO_SOCKET_DGRAM_ONLY && mode != ECHO_SOCKET_RAW_ONLY)
        return -1;
    return atomic_exchange(&socket_mode, mode);
}

void echo_close_thread_sockets(void) {
    echo_close_sockets(echo_this_thread());
}

void echo_reset_permission_hint(void) {
    atomic_store(&hint_shown, 0);
}

int echo_open_raw_sockets(void) {
    echo_init();
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        close(fd);
        return 0; /* ping sockets will do, with no privilege at all */
    }
    int opened = 0;
    echo_lock();
    for (int i = 0; i < 2; ++i)
        if (shared[i].s.fd < 0 && open_socket(i ? AF_INET6 : AF_INET, KIND_RAW, &shared[i].s) == 0)
            ++opened;
    echo_unlock();
    return opened;
}
