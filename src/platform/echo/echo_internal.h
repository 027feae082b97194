/* echo_internal.h - what the echo component's C files share with each other; not for callers.
 *
 * echoping.c sends, matches and times one request (ping() itself), echo_sockets.c decides which
 * socket it goes out on, echo_names.c turns the address text into addresses, and echo_calls.c
 * keeps the per-thread and per-call bookkeeping that lets echo_interrupt() end every wait.
 */
#ifndef ECHO_INTERNAL_H
#define ECHO_INTERNAL_H

#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>

#define ICMP4_ECHO_REPLY 0
#define MAX_HOST_TEXT 1024
#define HOST_ADDRESSES 8 /* the most addresses of one host name that are tried */
#define NS_PER_MS 1000000LL
#define NS_PER_S 1000000000LL

enum socket_kind { KIND_NONE = 0, KIND_DGRAM = 1, KIND_RAW = 2 };

struct echo_socket {
    int fd;
    int kind;
    uint16_t ident; /* ours on a raw socket; unused on a ping socket */
};

struct echo_thread {
    int registered;
    struct echo_socket sock[2]; /* [0] IPv4, [1] IPv6 */
    int wake_fd;                /* eventfd that echo_interrupt() writes to; -1 until needed */
    struct echo_thread* next_waiting;
};

/* echoping.c */
void echo_init(void); /* once per process, before anything else here */

/* echo_calls.c */
void echo_calls_init(void);
struct echo_thread* echo_this_thread(void);
struct echo_thread* echo_thread_state(void); /* also has its sockets closed at thread end */
int64_t echo_now_ns(void);
unsigned echo_enter_call(struct echo_thread* t);
void echo_leave_call(struct echo_thread* t);
int echo_interrupted(unsigned since);
/* lock guards the waiting list, the shared sockets and the lookups. */
void echo_lock(void);
void echo_unlock(void);
int echo_wait_changed(int64_t deadline); /* with the lock held; 0 once deadline has passed */
void echo_broadcast_changed(void);       /* with the lock held */

/* echo_sockets.c */
void echo_sockets_init(unsigned process_id);
int echo_get_socket(int family, int64_t deadline, unsigned since, struct echo_socket** out);
void echo_put_socket(struct echo_socket* s);
int echo_is_shared(const struct echo_socket* s);
void echo_close_sockets(struct echo_thread* t);
void echo_sockets_after_fork(void); /* in the child, with the lock held */

/* echo_names.c */
int echo_trimmed_host(const char* address, char host[MAX_HOST_TEXT + 1]);
int echo_host_addresses(const char* host, int64_t deadline, unsigned since,
                        struct sockaddr_storage addr[HOST_ADDRESSES],
                        socklen_t len[HOST_ADDRESSES]);
/* 1 and the address when host is an address literal, 0 when it is a name (which may need a
 * lookup), -1 when it only looks like an address; never waits. */
int echo_literal_address(const char* host, struct sockaddr_storage* addr, socklen_t* len);
void echo_names_after_fork(void); /* in the child, with the lock held */

#endif /* ECHO_INTERNAL_H */
