#pragma once

// What the program leaves on disk, read as another program would: the log file (runs of a
// header and result lines, CR LF line ends) and the settings file.

#include <QSettings>

#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace ew::e2e {

using Settings = std::map<std::string, std::string>;

struct LogEntry {
    bool reply = false; // else a failure
    std::string time, address;
    long roundTripMs = -1;
};
struct ParsedLog {
    std::vector<std::vector<LogEntry>> runs; // the entries under each header
    std::string problem;                     // the first line that is not well formed, and why
};

// Splits the log into runs, checking every line's form: a run begins with an empty line and
// the header line; a file may begin with header-less lines only when allowHeaderless is set.
inline ParsedLog parseLog(const std::string& bytes, bool allowHeaderless = false) {
    static const std::string time = "([0-9]{1,2}:[0-9]{2}:[0-9]{2}(?: ?[AaPp]\\.?[Mm]\\.?)?)";
    static const std::regex header("Started log on +.+? +at +" + time + " +Logging Total pings"),
        reply("\x1a " + time + " Reply from (.*), Time:([0-9]+) ms"),
        failure("\xe2\x80\xa0 " + time + " Ping to  (.*) --== F A I L E D ==-- ");
    ParsedLog log;
    if (allowHeaderless)
        log.runs.emplace_back();
    std::string line = "-";
    for (std::size_t pos = 0, end = 0; pos < bytes.size() && log.problem.empty(); pos = end + 2) {
        const bool headerNext = line.empty();
        end = bytes.find("\r\n", pos);
        line = bytes.substr(pos, end - pos);
        std::smatch m;
        if (end == std::string::npos || line.find_first_of("\r\n") != std::string::npos)
            log.problem = "not a whole line ending in CR LF";
        else if (headerNext && std::regex_match(line, header))
            log.runs.emplace_back();
        else if (headerNext || (line.empty() && end + 2 == bytes.size()))
            log.problem = "an empty line not followed by a header line";
        else if (line.empty())
            continue;
        else if (!std::regex_match(line, m, reply) && !std::regex_match(line, m, failure))
            log.problem = "neither a header nor a result line";
        else if (log.runs.empty())
            log.problem = "a result line before any header";
        else
            log.runs.back().push_back(
                {line[0] == '\x1a', m[1], m[2], m[3].matched ? std::stol(m[3]) : -1});
        if (!log.problem.empty())
            log.problem = "line \"" + line + "\": " + log.problem;
    }
    return log;
}

// The keys of the program's section; nullopt when the file is not a well-formed INI file.
inline std::optional<Settings> readSettings(const QString& file) {
    QSettings ini(file, QSettings::IniFormat);
    ini.beginGroup("EchoWarden");
    Settings values;
    for (const QString& key : ini.childKeys())
        values[key.toStdString()] = ini.value(key).toString().toStdString();
    return ini.status() == QSettings::NoError ? std::optional(values) : std::nullopt;
}

inline void writeSettings(const QString& file, const Settings& values) {
    QSettings ini(file, QSettings::IniFormat);
    for (const auto& [key, value] : values)
        ini.setValue(QString::fromStdString("EchoWarden/" + key), QString::fromStdString(value));
}

} // namespace ew::e2e
