// The whole program as an operator uses it: the real echowarden under a private X server,
// worked with the mouse and the keyboard, judged by what it leaves on disk. The rules that the
// unit tests pin with the fakes are not tested again here; this is what only the real program
// shows: real echoes (loopback and a host that never answers), the files as another program
// reads them, and the program killed while it logs.

#include "e2e/E2e.h"
#include "echo.h"

#include <fstream>
#include <sstream>

namespace ew::e2e {
namespace {

constexpr const char* Loopback = "127.0.0.1";

class OperatorRuns : public E2eTest {
protected:
    void SetUp() override {
        E2eTest::SetUp();
        // The program runs with this process's rights: without ICMP permission no reply comes.
        echo_socket s;
        const int opened = echo_open(&s, AF_INET, ECHO_SOCKET_AUTO);
        echo_close(&s);
        if (!IsSkipped() && opened == ECHO_NO_PERMISSION)
            GTEST_SKIP() << "no permission to send ICMP echo requests here (see the README)";
    }
};

// Ten passes a second log in list order under the header of their run: a reply from loopback
// within the 1 s time-out, a failure from the host that never answers. The log present is asked
// about while ticks fall due, No appends, and a kill while it logs leaves only whole lines.
TEST_F(OperatorRuns, AppendsInListOrderAndAKillWhileLoggingLeavesWholeLines) {
    std::vector<std::string> addresses{Loopback};
    net_ = std::make_unique<test::TestNet>();
    if (const auto silent = net_->usable() ? net_->addSilentHost() : std::nullopt)
        addresses.push_back(silent->ipv4);
    else
        std::cout << "[ skipped  ] the host that never answers: " << net_->whyNot() << "\n";
    // clang-format off
    Settings stored{{"LogFilePath", defaultLog().string()}, {"Timeout", "1"}, {"Interval", "1"},
        {"IntervalMinutes", "False"}, {"IntervalTenths", "True"}, {"EnableLoggingTotal", "1"}};
    // clang-format on
    for (const std::string& a : addresses)
        stored["IPList"] += a + ",";
    writeSettings(settingsFile(), stored);
    const std::string old = "\r\nStarted log on 12/7/26 at 10:00:00 Logging Total pings\r\n"
                            "\x1a 10:00:01 Reply from 127.0.0.1, Time:1 ms\r\n";
    std::ofstream(defaultLog(), std::ios::binary) << old;
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(findWindow("Log File", WindowLimit)) << "no question about the log present";
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(answerBox("Log File", "n")) << "the question stayed, or came twice";
    ASSERT_TRUE(logGrows(20)) << output();
    program_->kill();

    const std::string bytes = readFile(defaultLog());
    ASSERT_TRUE(bytes.starts_with(old)) << "No keeps the old lines";
    ASSERT_TRUE(bytes.ends_with("\r\n")) << "a line cut short";
    // What the run added: an empty line, its header, then its result lines.
    const std::string time = "[0-9]{1,2}:[0-9]{2}:[0-9]{2}(?: ?[AaPp]\\.?[Mm]\\.?)?";
    const std::regex header("Started log on +.+? +at +" + time + " +Logging Total pings\r"),
        reply("\x1a " + time + " Reply from (.*), Time:([0-9]+) ms\r"),
        failure("\xe2\x80\xa0 " + time + " Ping to  (.*) --== F A I L E D ==-- \r");
    std::istringstream added(bytes.substr(old.size()));
    std::string line;
    ASSERT_TRUE(std::getline(added, line) && line == "\r");
    ASSERT_TRUE(std::getline(added, line) && std::regex_match(line, header)) << line;
    for (std::size_t i = 0; std::getline(added, line); ++i) {
        const std::string& address = addresses[i % addresses.size()];
        const bool loopback = address == Loopback;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, loopback ? reply : failure) && m[1] == address &&
                    (!loopback || std::stol(m[2]) <= 1000))
            << "entry " << i << ": " << line;
    }
}

} // namespace
} // namespace ew::e2e
