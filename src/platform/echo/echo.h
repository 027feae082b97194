/* echo.h - ICMP echo requests and their replies over Linux sockets.
 *
 * A leaf: it opens a socket, builds and sends a request, and reads the replies that come in,
 * each with the kernel's receive timestamp. It never waits and keeps no threads: the caller
 * watches the socket's descriptor (poll, or a Qt socket notifier), reads when it is readable,
 * and matches each reply to its request by identifier, sequence number and peer. Threads may
 * use it side by side, each with sockets of its own.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Outcomes of an attempt. Only ECHO_OK is a reply. */
enum echo_result {
    ECHO_OK = 0,
    ECHO_TIMEOUT = 1,       /* no matching reply within the time-out */
    ECHO_UNRESOLVED = 2,    /* no address, and no name that resolves */
    ECHO_NO_PERMISSION = 3, /* neither a ping socket nor a raw socket may be opened */
    ECHO_SEND_ERROR = 4,    /* the request could not be sent (no route, no socket, too big) */
    ECHO_UNREACHABLE = 5,   /* an ICMP "destination unreachable" answered the request */
    ECHO_ICMP_ERROR = 6,    /* another ICMP error answered it (time exceeded, parameter problem) */
};

/* Which kind of socket echo_open() may use. AUTO prefers the unprivileged ICMP ping socket
 * (allowed by net.ipv4.ping_group_range) and falls back to a raw socket (root or CAP_NET_RAW).
 * The other two force one kind, so that tests can reach both. */
enum echo_socket_mode {
    ECHO_SOCKET_AUTO = 0,
    ECHO_SOCKET_DGRAM_ONLY = 1,
    ECHO_SOCKET_RAW_ONLY = 2,
};

struct echo_socket {
    int fd;
    int family;     /* AF_INET or AF_INET6 */
    int raw;        /* 1: a raw socket, whose replies carry our identifier */
    uint16_t ident; /* ours on a raw socket; the kernel's own on a ping socket */
    int handed;     /* 1: one of the raw sockets opened at start; never closed */
};

/* Opens a non-blocking socket for family with receive timestamps on. ECHO_OK, or
 * ECHO_NO_PERMISSION (the hint on how to allow ICMP is printed once on standard error), or
 * ECHO_SEND_ERROR for anything else (no IPv6, no descriptors). */
int echo_open(struct echo_socket* s, int family, int mode);
void echo_close(struct echo_socket* s);

/* Sends one request with size payload bytes (0 to 65507). ECHO_OK or ECHO_SEND_ERROR. The caller
 * notes the moment before the call: over loopback the reply is stamped before it returns. */
int echo_send(const struct echo_socket* s, const struct sockaddr* to, socklen_t to_len,
              uint16_t sequence, int size);

struct echo_reply {
    struct sockaddr_storage from; /* for an ICMP error: where the request it quotes went */
    uint16_t ident;
    uint16_t sequence;
    int64_t received_ns; /* the kernel's receive timestamp, on the wall clock (CLOCK_REALTIME) */
    int result;          /* ECHO_OK for a reply; ECHO_UNREACHABLE or ECHO_ICMP_ERROR */
};

/* Reads one datagram without waiting. 1: an echo reply, in *r. 0: something else, skipped.
 * -1: nothing left to read (errno EAGAIN), or an error that errno names. */
int echo_receive(const struct echo_socket* s, struct echo_reply* r);

/* Reads one ICMP error from the socket's error queue without waiting: the kernel queues there
 * (IP_RECVERR, IPV6_RECVERR) the errors that quote an echo request sent on the socket and, on a
 * raw socket, those that quote anyone's. 1: an error that quotes an echo request, its
 * identifier, sequence number and destination in *r, its kind in r->result. 0: something else,
 * skipped. -1: the queue is empty (errno EAGAIN), or an error that errno names. A plain read
 * fails once with the error's errno while one waits; once the queue is read, it no longer does. */
int echo_receive_error(const struct echo_socket* s, struct echo_reply* r);

/* What one datagram read from s says, the bytes as the socket hands them over (an IP header in
 * front on a raw IPv4 socket only). 1: an echo reply, its identifier and sequence number in *r,
 * and on a raw IPv4 socket its sender from the IP header. 0: anything else. Reads only
 * buf[0..len), whatever the bytes claim. */
int echo_parse_reply(const struct echo_socket* s, const unsigned char* buf, size_t len,
                     struct echo_reply* r);

/* 1 when r comes from `to` with s's identifier; the caller looks up its sequence number. */
int echo_matches(const struct echo_socket* s, const struct echo_reply* r,
                 const struct sockaddr* to);

/* From an address text to what to send to, blanks around it ignored. 1: an address literal,
 * written to addr. 0: a host name to look up, copied to host without its blanks. -1: nothing
 * usable (empty, too long, or a text that only looks like an address, such as 999.1.1.1). */
int echo_parse_address(const char* text, char* host, size_t host_size,
                       struct sockaddr_storage* addr, socklen_t* len);

/* For a program that holds CAP_NET_RAW only to ping: call it before dropping the capability.
 * Where ping sockets are refused, opens a raw socket per address family that later
 * echo_open() calls hand out, and returns how many it opened; where ping sockets are allowed
 * it opens nothing and returns 0. */
int echo_open_raw_sockets(void);

#ifdef __cplusplus
}
#endif
