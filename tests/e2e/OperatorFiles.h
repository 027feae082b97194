#pragma once

// What the program leaves on disk, read as another program would: the log file (runs of a
// header and result lines, CR LF line ends) and the settings file.

#include <QSettings>

#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace ew::e2e {

namespace fs = std::filesystem;

using Settings = std::map<std::string, std::string>;

struct LogEntry {
    bool reply = false; // else a failure
    std::string time;
    std::string address;
    long roundTripMs = -1;
};
struct LogRun {
    std::string header; // empty for lines that follow no header (a recreated file)
    bool loggingTotal = false;
    std::vector<LogEntry> entries;
};
struct ParsedLog {
    std::vector<LogRun> runs;
    std::string problem; // empty when every line was well formed
};

// Splits the log into runs, checking every line's form. A run begins with an empty line and
// the header line; a file may begin with header-less lines only when allowHeaderless is set.
inline ParsedLog parseLog(const std::string& bytes, bool allowHeaderless = false) {
    static const std::string time = "([0-9]{1,2}:[0-9]{2}:[0-9]{2}(?: ?[AaPp]\\.?[Mm]\\.?)?)";
    static const std::regex header("Started log on +(.+?) +at +" + time +
                                   " +Logging (Total|Failed) pings");
    static const std::regex reply("\x1a " + time + " Reply from (.*), Time:([0-9]+) ms");
    static const std::regex failure("\xe2\x80\xa0 " + time +
                                    " Ping to  (.*) --== F A I L E D ==-- ");
    ParsedLog log;
    if (!bytes.empty() && !bytes.ends_with("\r\n"))
        return {{}, "the last line does not end in CR LF"};
    bool expectHeader = false;
    for (std::size_t pos = 0, end = 0; pos < bytes.size() && log.problem.empty(); pos = end + 2) {
        end = bytes.find("\r\n", pos);
        const std::string line = bytes.substr(pos, end - pos);
        std::smatch m;
        if (line.find_first_of("\r\n") != std::string::npos)
            log.problem = "a lone CR or LF inside";
        else if (std::exchange(expectHeader, false)) {
            if (std::regex_match(line, m, header))
                log.runs.push_back({line, m[3] == "Total", {}});
            else
                log.problem = "an empty line not followed by the header line";
        } else if (line.empty())
            expectHeader = true;
        else if (!std::regex_match(line, m, reply) && !std::regex_match(line, m, failure))
            log.problem = "neither a header nor a result line";
        else if (log.runs.empty() && !allowHeaderless)
            log.problem = "a result line before any header";
        else {
            if (log.runs.empty())
                log.runs.emplace_back();
            const bool isReply = line.starts_with('\x1a');
            log.runs.back().entries.push_back(
                {isReply, m[1], m[2], isReply ? std::stol(m[3]) : -1});
        }
        if (!log.problem.empty())
            log.problem = "line \"" + line + "\": " + log.problem;
    }
    if (expectHeader && log.problem.empty())
        log.problem = "the file ends with an empty line and no header";
    return log;
}

// The stored keys of the program's section, read as another program would; nullopt when the
// file is not a well-formed INI file.
inline std::optional<Settings> readSettings(const fs::path& file) {
    QSettings ini(QString::fromStdString(file.string()), QSettings::IniFormat);
    ini.beginGroup("EchoWarden");
    Settings values;
    for (const QString& key : ini.childKeys())
        values[key.toStdString()] = ini.value(key).toString().toStdString();
    return ini.status() == QSettings::NoError ? std::optional(values) : std::nullopt;
}

inline void writeSettings(const fs::path& file, const Settings& values) {
    QSettings ini(QString::fromStdString(file.string()), QSettings::IniFormat);
    for (const auto& [key, value] : values)
        ini.setValue(QString::fromStdString("EchoWarden/" + key), QString::fromStdString(value));
}

} // namespace ew::e2e
