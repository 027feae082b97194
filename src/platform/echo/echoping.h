/* echoping.h - one ICMP echo request and its reply, behind a plain C call.
 *
 * ping() sends one echo request to an IPv4 literal, IPv6 literal or host name and waits for the
 * reply to that very request. It is safe to call from several threads at once; each thread keeps
 * its own sockets (one per address family), which are closed when the thread ends, unless the
 * program handed over raw sockets at start (echo_open_raw_sockets). Host names
 * are looked up in the background and their outcome kept for a few seconds: a call never waits
 * for a lookup past its time-out.
 */
#ifndef ECHOPING_H
#define ECHOPING_H

#include <stdint.h>
#include <sys/socket.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results of ping(). Only ECHO_OK means that *roundTripMs was written. */
enum echo_result {
    ECHO_OK = 0,
    ECHO_TIMEOUT = 1,          /* no matching reply within timeoutMs */
    ECHO_UNRESOLVED = 2,       /* no address, and no name that resolves within timeoutMs */
    ECHO_NO_PERMISSION = 3,    /* neither a ping socket nor a raw socket may be opened */
    ECHO_SEND_ERROR = 4,       /* the request could not be sent (no route, no socket, ...) */
    ECHO_RECV_ERROR = 5,       /* waiting for or reading the reply failed */
    ECHO_INVALID_ARGUMENT = 6, /* null address or roundTripMs, packetSize < 0, timeoutMs <= 0 */
    ECHO_INTERRUPTED = 7,      /* echo_interrupt() was called while this call waited */
    ECHO_PENDING = 8,          /* echo_start() only: finish the attempt with echo_finish() */
};

/* The size of the reply buffer the caller hands to ping(): 16 characters and a NUL. ping()
 * writes at most ECHO_REPLY_TEXT_MAX characters and a NUL into it. */
#define ECHO_REPLY_BUFFER 17
#define ECHO_REPLY_TEXT_MAX 15

/* Sends one echo request with packetSize payload bytes to address (white space around it is
 * ignored) and waits up to timeoutMs for its reply. On ECHO_OK, *roundTripMs holds the round
 * trip in whole milliseconds and reply (if not null) the replying address, cut to 15
 * characters. reserved must be 0 and is ignored. */
int16_t ping(const char* address, char* reply, int16_t packetSize, int32_t* roundTripMs,
             int16_t timeoutMs, uint32_t reserved);

/* One attempt in two halves, for a thread that must not wait long (a window's): echo_start()
 * sends the request and waits at most quickUs for the reply. When the attempt ends within that
 * (a nearby host, or a failure known at once) it returns the outcome as ping() would. Otherwise
 * it returns ECHO_PENDING, and echo_finish(), called once from any thread, waits out the rest of
 * the same attempt (the same request, the same time-out) and returns its outcome. A host name
 * that may need a lookup is not even sent before echo_finish(). The call's fields are the echo
 * component's own; echo_interrupt() ends the second half as it ends a ping(). */
#define ECHO_CALL_HOST 1025
struct echo_call {
    int state;
    int16_t packet_size;
    uint16_t sequence;
    unsigned since;
    int64_t deadline;
    int64_t sent_at;
    void* socket;
    struct sockaddr_storage to;
    socklen_t to_len;
    char host[ECHO_CALL_HOST];
};
int16_t echo_start(struct echo_call* call, const char* address, char* reply, int16_t packetSize,
                   int32_t* roundTripMs, int16_t timeoutMs, int32_t quickUs);
int16_t echo_finish(struct echo_call* call, char* reply, int32_t* roundTripMs);
/* Gives up a pending attempt instead of finishing it (its reply, should one come, is never
 * taken for another attempt's). */
void echo_abandon(struct echo_call* call);

/* Which kind of socket ping() may use. AUTO prefers the unprivileged ICMP ping socket
 * (allowed by net.ipv4.ping_group_range) and falls back to a raw socket (root or
 * CAP_NET_RAW). The other two force one kind, mainly so that tests can reach both. */
enum echo_socket_mode {
    ECHO_SOCKET_AUTO = 0,
    ECHO_SOCKET_DGRAM_ONLY = 1,
    ECHO_SOCKET_RAW_ONLY = 2,
};

/* Sets the mode for every thread from the next call on; returns the previous mode, or -1 (and
 * changes nothing) for an unknown mode. */
int echo_set_socket_mode(int mode);

/* Wakes every ping() call that is waiting now, in any thread (for its reply or for a name
 * lookup): each returns ECHO_INTERRUPTED at once. Calls that start afterwards are not
 * affected. Safe to call from any thread, e.g. the window's thread on Stop or Exit. */
void echo_interrupt(void);

/* For a program that holds CAP_NET_RAW only to ping: call it before dropping the capability.
 * Where ping sockets are refused, opens a raw socket per address family for every later call,
 * from any thread (one call at a time per socket), and returns how many it opened; where ping
 * sockets are allowed it opens nothing and returns 0. */
int echo_open_raw_sockets(void);

/* Closes the calling thread's cached sockets now rather than when the thread ends (for
 * example before the thread moves to another network namespace). */
void echo_close_thread_sockets(void);

/* The hint on how to allow ICMP is printed once per process; this lets it be printed again. */
void echo_reset_permission_hint(void);

#ifdef __cplusplus
}
#endif

#endif /* ECHOPING_H */
