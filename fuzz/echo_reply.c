/* Any datagram, as an IPv4 or IPv6 socket of either kind hands it over: the first byte picks
 * the socket ('0' IPv4 ping socket, '1' IPv6, '2' raw IPv4, '3' raw IPv6), the rest is the
 * datagram. A reply taken must have its fields where the bytes put
 * them and must match the request it answers. */
#include "echo.h"

#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    struct echo_socket s = {-1, data[0] & 1 ? AF_INET6 : AF_INET, data[0] >> 1 & 1, 0x4557, 0};
    const unsigned char* buf = data + 1;
    const size_t len = size - 1;
    /* The copy has its exact length, so that a read past it is caught. */
    unsigned char* copy = malloc(len ? len : 1);
    memcpy(copy, buf, len);
    /* Where no IP header names the sender, the socket has put it in already. */
    struct echo_reply r;
    memset(&r, 0, sizeof r);
    r.from.ss_family = (sa_family_t)s.family;
    struct sockaddr_storage peer = r.from;
    const int ip_header = s.family == AF_INET && s.raw;
    if (echo_parse_reply(&s, copy, len, &r) == 1) {
        const size_t at = ip_header ? (size_t)(buf[0] & 0x0F) * 4 : 0;
        if (at + 8 > len || r.ident != (buf[at + 4] << 8 | buf[at + 5]) ||
            r.sequence != (buf[at + 6] << 8 | buf[at + 7]))
            abort();
        if (ip_header)
            memcpy(&((struct sockaddr_in*)&peer)->sin_addr, buf + 12, 4);
        s.ident = r.ident;
        if (!echo_matches(&s, &r, (const struct sockaddr*)&peer))
            abort();
    }
    free(copy);
    return 0;
}
