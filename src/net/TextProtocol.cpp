// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TextProtocol.h"

#include <cctype>

namespace vantor::net {

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

Status SendLine(TcpConnection& connection, std::string_view text, Deadline deadline) {
    if (HasLineBreak(text)) {
        return Error{"A command would hold a line break; nothing was sent"};
    }
    std::string line(text);
    line += "\r\n";
    return connection.send(line, deadline);
}

namespace {

bool HasCode(std::string_view line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2])) &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

std::string Excerpt(std::string_view line) {
    constexpr std::size_t kMax = 200;
    return std::string(line.substr(0, kMax)) + (line.size() > kMax ? "..." : "");
}

}  // namespace

std::string NumericReply::text() const {
    std::string out;
    for (const std::string& line : lines) {
        std::string_view words = line;
        if (HasCode(words)) {
            words.remove_prefix(std::min<std::size_t>(4, words.size()));
        }
        const std::string trimmed = Trim(words);
        if (trimmed.empty()) {
            continue;
        }
        if (!out.empty()) {
            out += ' ';
        }
        out += trimmed;
    }
    return out;
}

Expected<NumericReply> ReadNumericReply(TcpConnection& connection, Deadline deadline) {
    NumericReply reply;
    std::size_t bytes = 0;
    for (;;) {
        Expected<std::string> line = connection.readLine(deadline);
        if (!line) {
            return Error{line.error()};
        }
        bytes += line->size();
        if (bytes > kMaxReplyBytes || reply.lines.size() >= kMaxReplyLines) {
            return Error{"The server's reply is too long"};
        }
        if (reply.lines.empty()) {
            if (!HasCode(*line)) {
                return Error{"Unexpected reply from the server: " + Excerpt(*line)};
            }
            reply.code = std::stoi(line->substr(0, 3));
            const bool more = line->size() > 3 && (*line)[3] == '-';
            reply.lines.push_back(std::move(line).value());
            if (!more) {
                return reply;
            }
            continue;
        }
        // A block ends with a line that starts with the same code and a blank.
        const bool last = HasCode(*line) && std::stoi(line->substr(0, 3)) == reply.code &&
                          (line->size() == 3 || (*line)[3] == ' ');
        reply.lines.push_back(std::move(line).value());
        if (last) {
            return reply;
        }
    }
}

Error RefusedReply(const NumericReply& reply) {
    return Error{reply.text()};
}

Status ReadGreeting220(TcpConnection& connection, Deadline deadline) {
    Expected<NumericReply> reply = ReadNumericReply(connection, deadline);
    if (!reply) {
        return Error{reply.error()};
    }
    if (reply->code != 220) {
        return RefusedReply(*reply);
    }
    return {};
}

}  // namespace vantor::net
