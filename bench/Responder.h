#pragma once

// An echo responder for a network namespace of the benchmark's own, in which the kernel's own
// answering is off (net.ipv4.icmp_echo_ignore_all, net.ipv6.icmp.echo_ignore_all): it answers
// echo requests to any address of the namespace from that very address, after a delay that the
// caller picks per request (or not at all), and optionally a second time a little later. So a
// benchmark can have replies arrive late, twice, or not at all, and tell a reply to one attempt
// from a reply to another by its timing.

#include <arpa/inet.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <queue>
#include <vector>

namespace ew::bench {

class Responder {
public:
    using Clock = std::chrono::steady_clock;
    // How long to wait before answering a request to `to` with payload bytes; none: no answer.
    using Delay = std::function<std::optional<std::chrono::milliseconds>(const sockaddr_storage& to,
                                                                         std::size_t payload)>;

    // duplicateAfter: every reply is sent once more this long after the first (0: only once).
    Responder(Delay delay, std::chrono::milliseconds duplicateAfter,
              std::function<bool(const sockaddr_storage& to)> twice = {})
        : delay_(std::move(delay)), duplicate_(duplicateAfter), twice_(std::move(twice)) {}
    ~Responder() {
        for (const pollfd& p : fds_)
            ::close(p.fd);
    }

    // Opens the raw sockets in the calling thread's namespace; false where that is refused.
    bool open() {
        const int v4 = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        const int v6 = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        for (int fd : {v4, v6})
            if (fd >= 0)
                fds_.push_back({fd, POLLIN, 0});
        if (v4 < 0 || v6 < 0)
            return false;
        std::uint32_t blocked = ~(1u << ICMP_ECHO);
        ::setsockopt(v4, SOL_RAW, 1 /* ICMP_FILTER */, &blocked, sizeof blocked);
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
        ::setsockopt(v6, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        const int on = 1;
        ::setsockopt(v6, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
        return true;
    }

    // Answers until stop is set or limit has passed.
    void serve(const std::atomic<bool>& stop, std::chrono::seconds limit) {
        const auto end = Clock::now() + limit;
        while (!stop && Clock::now() < end) {
            int waitMs = 20;
            if (!due_.empty())
                waitMs = static_cast<int>(
                    std::clamp<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         due_.top().at - Clock::now())
                                         .count(),
                                     0, 20));
            if (::poll(fds_.data(), fds_.size(), waitMs) > 0)
                for (const pollfd& p : fds_)
                    if (p.revents & POLLIN)
                        receive(p.fd);
            while (!due_.empty() && due_.top().at <= Clock::now()) {
                send(due_.top());
                due_.pop();
            }
        }
    }

private:
    struct Reply {
        Clock::time_point at;
        int fd;
        std::vector<unsigned char> packet;
        sockaddr_storage to;   // the pinger
        sockaddr_storage from; // the address it asked
        bool operator>(const Reply& o) const { return at > o.at; }
    };

    static std::uint16_t checksum(const unsigned char* p, std::size_t n) {
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i + 1 < n; i += 2)
            sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
        if (n & 1)
            sum += static_cast<std::uint32_t>(p[n - 1] << 8);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        return static_cast<std::uint16_t>(~sum);
    }

    void receive(int fd) {
        unsigned char buf[2048];
        alignas(cmsghdr) unsigned char control[256];
        Reply r{};
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_name = &r.to;
        msg.msg_namelen = sizeof r.to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
        const auto arrived = Clock::now();
        if (n < 0)
            return;
        const bool v6 = r.to.ss_family == AF_INET6;
        // An IPv4 raw socket reads the IP header too, which names the address asked; IPv6 says
        // it in the packet information.
        const std::size_t at = v6 ? 0 : static_cast<std::size_t>(buf[0] & 0x0F) * 4;
        if (static_cast<std::size_t>(n) < at + 8)
            return;
        if (v6) {
            auto* asked = reinterpret_cast<sockaddr_in6*>(&r.from);
            asked->sin6_family = AF_INET6;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO)
                    asked->sin6_addr = reinterpret_cast<in6_pktinfo*>(CMSG_DATA(c))->ipi6_addr;
        } else {
            auto* asked = reinterpret_cast<sockaddr_in*>(&r.from);
            asked->sin_family = AF_INET;
            std::memcpy(&asked->sin_addr, buf + 16, 4);
        }
        r.packet.assign(buf + at, buf + n);
        if (r.packet[0] != (v6 ? int{ICMP6_ECHO_REQUEST} : int{ICMP_ECHO}))
            return;
        const auto wait = delay_(r.from, r.packet.size() - 8);
        if (!wait)
            return;
        r.packet[0] = static_cast<unsigned char>(v6 ? int{ICMP6_ECHO_REPLY} : int{ICMP_ECHOREPLY});
        r.packet[2] = r.packet[3] = 0;
        if (!v6) { // the kernel sums ICMPv6 itself
            const std::uint16_t sum = checksum(r.packet.data(), r.packet.size());
            r.packet[2] = static_cast<unsigned char>(sum >> 8);
            r.packet[3] = static_cast<unsigned char>(sum);
        }
        r.fd = fd;
        r.at = arrived + *wait;
        if (duplicate_.count() > 0 && (!twice_ || twice_(r.from))) {
            Reply again = r;
            again.at += duplicate_;
            due_.push(std::move(again));
        }
        due_.push(std::move(r));
    }

    // From the address asked, whichever address of the namespace that is.
    static void send(const Reply& r) {
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
        iovec iov{const_cast<unsigned char*>(r.packet.data()), r.packet.size()};
        msghdr msg{};
        msg.msg_name = const_cast<sockaddr_storage*>(&r.to);
        msg.msg_namelen = r.to.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        cmsghdr* c = reinterpret_cast<cmsghdr*>(control);
        if (r.to.ss_family == AF_INET6) {
            msg.msg_controllen = CMSG_SPACE(sizeof(in6_pktinfo));
            c->cmsg_level = IPPROTO_IPV6;
            c->cmsg_type = IPV6_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
            in6_pktinfo info{};
            info.ipi6_addr = reinterpret_cast<const sockaddr_in6&>(r.from).sin6_addr;
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
        } else {
            msg.msg_controllen = CMSG_SPACE(sizeof(in_pktinfo));
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_spec_dst = reinterpret_cast<const sockaddr_in&>(r.from).sin_addr;
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
        }
        ::sendmsg(r.fd, &msg, 0);
    }

    Delay delay_;
    std::chrono::milliseconds duplicate_;
    std::function<bool(const sockaddr_storage&)> twice_;
    std::vector<pollfd> fds_;
    std::priority_queue<Reply, std::vector<Reply>, std::greater<>> due_;
};

} // namespace ew::bench
