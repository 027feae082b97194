#pragma once

// Reading what the program leaves on disk, as another program would: the log file (runs of
// a header and result lines, CR LF line ends) and the settings file (an INI file whose
// [EchoWarden] group holds the stored keys).

#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace ew::e2e {

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
    int lines = 0;
};

namespace logtext {
// The system's long time format: hours, minutes and seconds (a 12-hour clock adds AM/PM).
inline const std::string Time = "([0-9]{1,2}:[0-9]{2}:[0-9]{2}(?: ?[AaPp]\\.?[Mm]\\.?)?)";
inline const std::string ReplyMark = "\x1a";
inline const std::string FailureMark = "\xe2\x80\xa0"; // U+2020 in UTF-8
} // namespace logtext

// Splits the log into runs and checks every line's form. A run begins with an empty line and
// the header line; a file may begin with header-less lines only when allowHeaderless is set.
inline ParsedLog parseLog(const std::string& bytes, bool allowHeaderless = false) {
    using namespace logtext;
    static const std::regex header("Started log on +(.+?) +at +" + Time +
                                   " +Logging (Total|Failed) pings");
    static const std::regex reply(ReplyMark + " " + Time + " Reply from (.*), Time:([0-9]+) ms");
    static const std::regex failure(FailureMark + " " + Time +
                                    " Ping to  (.*) --== F A I L E D ==-- ");
    ParsedLog log;
    if (bytes.empty())
        return log;
    if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0) {
        log.problem = "the last line does not end in CR LF";
        return log;
    }
    bool expectHeader = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        const std::string line = bytes.substr(pos, end - pos);
        pos = end + 2;
        ++log.lines;
        const std::string where = "line " + std::to_string(log.lines) + " \"" + line + "\": ";
        if (line.find_first_of("\r\n") != std::string::npos) {
            log.problem = where + "a lone CR or LF inside the line";
            return log;
        }
        std::smatch m;
        if (expectHeader) {
            if (!std::regex_match(line, m, header)) {
                log.problem = where + "an empty line not followed by the header line";
                return log;
            }
            log.runs.push_back(LogRun{line, m[3] == "Total", {}});
            expectHeader = false;
        } else if (line.empty()) {
            expectHeader = true;
        } else if (std::regex_match(line, m, reply) || std::regex_match(line, m, failure)) {
            if (log.runs.empty()) {
                if (!allowHeaderless) {
                    log.problem = where + "a result line before any header";
                    return log;
                }
                log.runs.push_back(LogRun{});
            }
            LogEntry e;
            e.reply = line.rfind(ReplyMark, 0) == 0;
            e.time = m[1];
            e.address = m[2];
            if (e.reply)
                e.roundTripMs = std::stol(m[3]);
            log.runs.back().entries.push_back(e);
        } else {
            log.problem = where + "neither a header nor a result line";
            return log;
        }
    }
    if (expectHeader)
        log.problem = "the file ends with an empty line and no header";
    return log;
}

// The values of one group of an INI file as QSettings writes it (quoted values unquoted).
// nullopt when the file is not well formed: a line that is neither a group, a key nor empty.
inline std::optional<std::map<std::string, std::string>> parseIniGroup(const std::string& bytes,
                                                                       const std::string& group) {
    std::map<std::string, std::string> values;
    std::string current;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return std::nullopt;
            current = line.substr(1, line.size() - 2);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            return std::nullopt;
        std::string value = line.substr(eq + 1);
        if (!value.empty() && value.front() == '"') {
            if (value.size() < 2 || value.back() != '"')
                return std::nullopt;
            std::string plain;
            for (std::size_t i = 1; i + 1 < value.size(); ++i) {
                if (value[i] == '\\' && i + 2 < value.size())
                    ++i;
                plain += value[i];
            }
            value = plain;
        }
        if (current == group)
            values[line.substr(0, eq)] = value;
    }
    return values;
}

// A stored value, or "<missing>" for a key the file does not hold.
inline std::string storedValue(const std::map<std::string, std::string>& values,
                               const std::string& key) {
    const auto it = values.find(key);
    return it == values.end() ? "<missing>" : it->second;
}

// Every key the program stores, by the save button (fourteen) and the schedule dialog.
inline const std::vector<std::string>& allSettingKeys() {
    static const std::vector<std::string> keys{"IPList",
                                               "UnattendedTo",
                                               "UnattendedFrom",
                                               "LogFilePath",
                                               "SaveSettingsOnExit",
                                               "Unattended",
                                               "PingWithBytes",
                                               "Timeout",
                                               "IntervalMinutes",
                                               "IntervalSeconds",
                                               "Interval",
                                               "Beep",
                                               "Attempts",
                                               "EnableLoggingTotal",
                                               "EnableLoggingFailed",
                                               "IntervalTenths"};
    return keys;
}

} // namespace ew::e2e
