#pragma once

// Reading what the program leaves on disk, as another program would: the log file (runs of
// a header and result lines, CR LF line ends) and the settings file (an INI file whose
// [EchoWarden] group holds the stored keys).

#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace ew::e2e {

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

// Splits the log into runs and checks every line's form. A run begins with an empty line and
// the header line; a file may begin with header-less lines only when allowHeaderless is set.
inline ParsedLog parseLog(const std::string& bytes, bool allowHeaderless = false) {
    // The system's long time format: hours, minutes and seconds (a 12-hour clock adds AM/PM).
    static const std::string time = "([0-9]{1,2}:[0-9]{2}:[0-9]{2}(?: ?[AaPp]\\.?[Mm]\\.?)?)";
    static const std::string replyMark = "\x1a", failureMark = "\xe2\x80\xa0"; // U+2020
    static const std::regex header("Started log on +(.+?) +at +" + time +
                                   " +Logging (Total|Failed) pings");
    static const std::regex reply(replyMark + " " + time + " Reply from (.*), Time:([0-9]+) ms");
    static const std::regex failure(failureMark + " " + time +
                                    " Ping to  (.*) --== F A I L E D ==-- ");
    ParsedLog log;
    if (!bytes.empty() && !bytes.ends_with("\r\n"))
        return {{}, "the last line does not end in CR LF"};
    bool expectHeader = false;
    for (std::size_t pos = 0, end = 0; pos < bytes.size(); pos = end + 2) {
        end = bytes.find("\r\n", pos);
        const std::string line = bytes.substr(pos, end - pos);
        const std::string where = "line \"" + line + "\": ";
        std::smatch m;
        if (line.find_first_of("\r\n") != std::string::npos) {
            log.problem = where + "a lone CR or LF inside the line";
        } else if (expectHeader) {
            if (std::regex_match(line, m, header))
                log.runs.push_back({line, m[3] == "Total", {}});
            else
                log.problem = where + "an empty line not followed by the header line";
            expectHeader = false;
        } else if (line.empty()) {
            expectHeader = true;
        } else if (!std::regex_match(line, m, reply) && !std::regex_match(line, m, failure)) {
            log.problem = where + "neither a header nor a result line";
        } else if (log.runs.empty() && !allowHeaderless) {
            log.problem = where + "a result line before any header";
        } else {
            if (log.runs.empty())
                log.runs.emplace_back();
            const bool isReply = line.starts_with(replyMark);
            log.runs.back().entries.push_back(
                {isReply, m[1], m[2], isReply ? std::stol(m[3]) : -1});
        }
        if (!log.problem.empty())
            return log;
    }
    if (expectHeader)
        log.problem = "the file ends with an empty line and no header";
    return log;
}

// The values of one group of an INI file as QSettings writes it (quoted values unquoted);
// nullopt when the file is not well formed: a line that is neither a group, a key nor empty.
inline std::optional<Settings> parseIniGroup(const std::string& bytes, const std::string& group) {
    Settings values;
    std::string current;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r'))
            line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            continue;
        }
        const std::size_t eq = line.find('=');
        std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
        const bool quoted = value.starts_with('"');
        if (eq == std::string::npos || (quoted && (value.size() < 2 || !value.ends_with('"'))))
            return std::nullopt;
        if (quoted) {
            std::string plain;
            for (std::size_t i = 1; i + 1 < value.size(); ++i)
                plain += value[i] == '\\' && i + 2 < value.size() ? value[++i] : value[i];
            value = plain;
        }
        if (current == group)
            values[line.substr(0, eq)] = value;
    }
    return values;
}

} // namespace ew::e2e
