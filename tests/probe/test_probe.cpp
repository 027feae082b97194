#include "support/TestNet.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <map>

namespace ew::test {
namespace {

// Both listen on the loopback of the test's own client namespace, where nothing else does.
const std::string ProbeAt = "127.0.0.1:29374";
const std::string PrometheusAt = "127.0.0.1:9090";

// A program running inside the client namespace until the test ends.
class InClient {
public:
    InClient(const TestNet& net, const QString& program, const QStringList& args) {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(
            QStringLiteral("nsenter"),
            QStringList{QStringLiteral("--net=") + QString::fromStdString(net.client().path()),
                        QStringLiteral("--"), program} +
                args);
    }
    ~InClient() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished();
    }
    QProcess process_;
};

// A PromQL query through Prometheus' HTTP API: the value of each series by its host label.
std::map<std::string, double> query(const TestNet& net, const std::string& promql) {
    std::string out;
    net.client().exec({"curl", "-sfG", "http://" + PrometheusAt + "/api/v1/query",
                       "--data-urlencode", "query=" + promql},
                      &out);
    std::map<std::string, double> values;
    const QJsonArray result = QJsonDocument::fromJson(QByteArray::fromStdString(out))
                                  .object()[QStringLiteral("data")][QStringLiteral("result")]
                                  .toArray();
    for (const QJsonValue r : result)
        values[r[QStringLiteral("metric")][QStringLiteral("host")].toString().toStdString()] =
            r[QStringLiteral("value")][1].toString().toDouble();
    return values;
}

// Polls for at most 40 s: Prometheus needs a few scrapes before a rate has two samples.
bool eventually(const std::function<bool()>& holds) {
    for (int i = 0; i < 80; ++i, QThread::msleep(500))
        if (holds())
            return true;
    return false;
}

TEST(ProbeWithPrometheus, RatesAndUpDownThroughARealServer) {
    TestNet net;
    if (!net.usable())
        GTEST_SKIP() << net.whyNot();
    if (QStandardPaths::findExecutable(QStringLiteral("prometheus")).isEmpty())
        GTEST_SKIP() << "no prometheus (scripts/install-deps.sh test installs it)";
    const auto h1 = net.addAnsweringHost(), h2 = net.addAnsweringHost();
    ASSERT_TRUE(h1 && h2) << net.whyNot();
    const std::string a = h1->ipv4, b = h2->ipv4;

    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("probe.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(("[EchoWarden]\nIPList=" + a + "," + b +
               ",\nIntervalTenths=True\nInterval=5\nTimeout=1\nAttempts=1\n")
                  .c_str());
    ini.close();
    QFile yml(dir.filePath(QStringLiteral("prometheus.yml")));
    ASSERT_TRUE(yml.open(QIODevice::WriteOnly));
    yml.write(("global: {scrape_interval: 1s, evaluation_interval: 1s}\nscrape_configs:\n"
               "  - job_name: probe\n    static_configs: [{targets: ['" +
               ProbeAt + "']}]\n")
                  .c_str());
    yml.close();
    // One pass for scripts: 0 when every entry answered, 1 when one did not, 2 for a usage
    // error. The settings file is only read.
    const auto once = [&](const QStringList& more) {
        QProcess p;
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral("nsenter"),
                QStringList{QStringLiteral("--net=") + QString::fromStdString(net.client().path()),
                            QStringLiteral("--"), QStringLiteral(EW_PROBE_BINARY),
                            QStringLiteral("--config"), ini.fileName(), QStringLiteral("--once")} +
                    more);
        return p.waitForFinished(10000) ? p.exitCode() : -1;
    };
    const auto contents = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray settings = contents(ini.fileName());
    EXPECT_EQ(once({QStringLiteral("--at-once")}), 0);
    ASSERT_TRUE(net.host(2).setSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    EXPECT_EQ(once({}), 1);
    ASSERT_TRUE(net.host(2).setSysctl("net.ipv4.icmp_echo_ignore_all", "0"));
    EXPECT_EQ(once({QStringLiteral("--interval=5x")}), 2);
    EXPECT_EQ(contents(ini.fileName()), settings);

    const InClient probe(net, QStringLiteral(EW_PROBE_BINARY),
                         {QStringLiteral("--config"), ini.fileName(), QStringLiteral("--at-once"),
                          QStringLiteral("--listen"), QString::fromStdString(ProbeAt)});
    const InClient prometheus(
        net, QStringLiteral("prometheus"),
        {QStringLiteral("--config.file=") + yml.fileName(),
         QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
         QStringLiteral("--web.listen-address=") + QString::fromStdString(PrometheusAt)});

    // A pass every half second: about two requests a second for each host.
    EXPECT_TRUE(eventually([&] {
        auto r = query(net, "rate(smokeping_requests_total[10s])");
        return r.size() == 2 && r[a] > 1 && r[a] < 3 && r[b] > 1 && r[b] < 3;
    }));
    const auto up = [&](double wantA) {
        return eventually([&] {
            auto r = query(net, "echowarden_host_up");
            return r.size() == 2 && r[a] == wantA && r[b] == 1;
        });
    };
    EXPECT_TRUE(up(1));
    ASSERT_TRUE(net.host(1).setSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    EXPECT_TRUE(up(0));
    ASSERT_TRUE(net.host(1).setSysctl("net.ipv4.icmp_echo_ignore_all", "0"));
    EXPECT_TRUE(up(1));

    // SIGHUP reads the file again and keeps every count.
    const auto passes = [&] {
        std::string text;
        net.client().exec({"curl", "-sf", "http://" + ProbeAt + "/metrics"}, &text);
        const std::size_t at = text.find("\nechowarden_passes_total ");
        return at == std::string::npos ? -1 : std::stoi(text.substr(at + 25));
    };
    const int before = passes();
    ::kill(static_cast<pid_t>(probe.process_.processId()), SIGHUP); // nsenter ran it in its place
    QThread::msleep(1000);
    EXPECT_GT(passes(), before);

    std::string exposition, checked;
    ASSERT_TRUE(net.client().exec({"curl", "-sf", "http://" + ProbeAt + "/metrics"}, &exposition));
    QFile saved(dir.filePath(QStringLiteral("metrics.prom")));
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly) && saved.write(exposition.c_str()) > 0);
    saved.close();
    EXPECT_TRUE(runProgram(
        {"sh", "-c", "promtool check metrics < \"$0\"", saved.fileName().toStdString()}, &checked))
        << checked;
}

} // namespace
} // namespace ew::test
