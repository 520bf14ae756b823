// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ImapClient.h"

#include <cctype>

namespace vantor::net {

namespace {

std::string Excerpt(std::string_view line) {
    return Trim(line.substr(0, 200));
}

// "OK text" -> "text" when the line (after the tag or "*") starts with word.
bool StartsWithWord(std::string_view rest, std::string_view word, std::string& text) {
    if (rest.size() < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(rest[i])) != word[i]) {
            return false;
        }
    }
    if (rest.size() > word.size() && rest[word.size()] != ' ') {
        return false;
    }
    text = Trim(rest.substr(word.size()));
    return true;
}

}  // namespace

Status ImapClient::connect(const std::string& host, int port, Deadline deadline) {
    m_tag = 0;
    return m_connection.connect(host, port, deadline);
}

Expected<ImapClient::Greeting> ImapClient::readGreeting(Deadline deadline) {
    Expected<std::string> line = m_connection.readLine(deadline);
    if (!line) {
        m_connection.close();
        return Error{line.error()};
    }
    std::string_view rest = *line;
    if (rest.substr(0, 2) != "* ") {
        return Error{"Unexpected greeting from the server: " + Excerpt(rest)};
    }
    rest.remove_prefix(2);
    std::string text;
    if (StartsWithWord(rest, "OK", text)) {
        return Greeting::Ok;
    }
    if (StartsWithWord(rest, "PREAUTH", text)) {
        return Greeting::Preauth;
    }
    if (StartsWithWord(rest, "BYE", text)) {
        return Error{text};
    }
    return Error{"Unexpected greeting from the server: " + Excerpt(*line)};
}

Status ImapClient::command(std::string_view text, Deadline deadline) {
    const std::string tag = "C" + std::to_string(++m_tag);
    if (Status sent = SendLine(m_connection, tag + " " + std::string(text), deadline); !sent) {
        return sent;
    }
    std::size_t bytes = 0;
    for (std::size_t lines = 0;; ++lines) {
        Expected<std::string> line = m_connection.readLine(deadline);
        if (!line) {
            m_connection.close();
            return Error{line.error()};
        }
        bytes += line->size();
        if (bytes > kMaxReplyBytes || lines >= kMaxReplyLines) {
            m_connection.close();
            return Error{"The server's reply is too long"};
        }
        std::string_view rest = *line;
        if (rest.substr(0, tag.size() + 1) != tag + " ") {
            continue;  // untagged data or a continuation before the answer
        }
        rest.remove_prefix(tag.size() + 1);
        std::string words;
        if (StartsWithWord(rest, "OK", words)) {
            return {};
        }
        if (StartsWithWord(rest, "NO", words) || StartsWithWord(rest, "BAD", words)) {
            return Error{words};  // empty for a bare "NO" or "BAD"
        }
        return Error{"Unexpected reply from the server: " + Excerpt(*line)};
    }
}

std::string ImapClient::Quote(std::string_view word) {
    bool plain = !word.empty();
    for (unsigned char c : word) {
        if (c <= 0x20 || c >= 0x7f || c == '(' || c == ')' || c == '{' || c == '%' || c == '*' ||
            c == '"' || c == '\\' || c == ']') {
            plain = false;
            break;
        }
    }
    if (plain) {
        return std::string(word);
    }
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

Status ImapClient::startTls(const std::string& host, const TlsOptions& options, Deadline deadline) {
    if (Status go = command("STARTTLS", deadline); !go) {
        if (!m_connection.isOpen()) {
            return go;
        }
        return Error{"The server refused STARTTLS" + (go.error().empty() ? "" : ": " + go.error())};
    }
    return secure(host, options, deadline);
}

Status ImapClient::login(std::string_view user, std::string_view password, Deadline deadline) {
    return command("LOGIN " + Quote(user) + " " + Quote(password), deadline);
}

Status ImapClient::logout(Deadline deadline) {
    if (!m_connection.isOpen()) {
        return Error{"Not connected"};
    }
    const std::string tag = "C" + std::to_string(++m_tag);
    Status sent = SendLine(m_connection, tag + " LOGOUT", deadline);
    m_connection.close();
    return sent;
}

}  // namespace vantor::net
