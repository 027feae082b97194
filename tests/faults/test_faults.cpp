// Faults from outside that the program must see through: a stranger answering in the pinged
// host's name, and a run long enough that the newest result line falls below the list's edge.

#include "monitor/PingPass.h"
#include "platform/echo/echoping.h"
#include "support/MainWindowFixture.h"
#include "support/TestNet.h"
#include "widgets/ResultsList.h"

namespace ew::test {
namespace {

// A reply with the request's identifier and sequence number, but from another address than the
// one pinged, is no reply: the attempt times out. Both kinds of socket, both families.
TEST(EchoPeer, AReplyFromAnotherAddressIsNotTaken) {
    TestNet net;
    EW_REQUIRE_TESTNET(net);
    const auto host = net.addImpostorHost();
    ASSERT_TRUE(host && net.allowPingSockets()) << net.whyNot();
    for (const int mode : {ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_RAW_ONLY}) {
        for (const std::string& address : {host->ipv4, host->ipv6}) {
            int result = -1;
            net.runInClient([&] {
                const int previous = echo_set_socket_mode(mode);
                char reply[ECHO_REPLY_BUFFER] = "                ";
                std::int32_t rtt = -1;
                result = ::ping(address.c_str(), reply, 16, &rtt, 300, 0);
                echo_set_socket_mode(previous);
            });
            EXPECT_EQ(result, ECHO_TIMEOUT)
                << address << (mode == ECHO_SOCKET_RAW_ONLY ? " raw" : " ping socket");
        }
    }
}

// Each attempt's line is selected and scrolled into view, however many lines came before.
TEST_F(MainWindowTest, TheNewestResultLineIsInView) {
    fakes.store.put(keys::IPList, QStringLiteral("a,b,"));
    fakes.store.put(keys::Attempts, QStringLiteral("5"));
    load();
    ResultsList& list = *ui().lstPingResults;
    for (int pass = 1; pass <= 10; ++pass) {
        window->pingPass().PingAddresses();
        ASSERT_EQ(list.currentRow(), list.count() - 1);
        EXPECT_GE(list.currentRow(), list.topRow()) << "pass " << pass;
        EXPECT_LE((list.currentRow() - list.topRow() + 1) * list.rowHeight(),
                  list.viewport()->height())
            << "pass " << pass;
    }
}

} // namespace
} // namespace ew::test
