// SPDX-License-Identifier: GPL-3.0-or-later
#include "SmscServer.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestConfig.h"
#include "support/TempDir.h"

namespace vantor::smppinterop {

namespace {

class JsonParser {
public:
    explicit JsonParser(std::string_view text) : m_text(text) {}

    Json document() {
        Json value = parseValue();
        skipBlanks();
        if (m_pos != m_text.size()) {
            fail("text after the value");
        }
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(m_pos) + " of " +
                                 std::string(m_text));
    }

    void skipBlanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }

    char peek() {
        skipBlanks();
        if (m_pos >= m_text.size()) {
            fail("unexpected end");
        }
        return m_text[m_pos];
    }

    void expect(char c) {
        if (peek() != c) {
            fail(std::string("expected '") + c + "'");
        }
        ++m_pos;
    }

    bool literal(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) == word) {
            m_pos += word.size();
            return true;
        }
        return false;
    }

    Json parseValue() {
        Json value;
        const char c = peek();
        if (c == '{') {
            value.type = Json::Type::Object;
            ++m_pos;
            if (peek() == '}') {
                ++m_pos;
                return value;
            }
            for (;;) {
                if (peek() != '"') {
                    fail("expected a member name");
                }
                std::string key = parseString();
                expect(':');
                value.object.emplace_back(std::move(key), parseValue());
                if (peek() == ',') {
                    ++m_pos;
                    continue;
                }
                expect('}');
                return value;
            }
        }
        if (c == '[') {
            value.type = Json::Type::Array;
            ++m_pos;
            if (peek() == ']') {
                ++m_pos;
                return value;
            }
            for (;;) {
                value.array.push_back(parseValue());
                if (peek() == ',') {
                    ++m_pos;
                    continue;
                }
                expect(']');
                return value;
            }
        }
        if (c == '"') {
            value.type = Json::Type::String;
            value.string = parseString();
            return value;
        }
        if (literal("true")) {
            value.type = Json::Type::Bool;
            value.boolean = true;
            return value;
        }
        if (literal("false")) {
            value.type = Json::Type::Bool;
            return value;
        }
        if (literal("null")) {
            return value;
        }
        const std::string rest(m_text.substr(m_pos, 64));
        char* end = nullptr;
        value.number = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str()) {
            fail("expected a value");
        }
        value.type = Json::Type::Number;
        m_pos += static_cast<std::size_t>(end - rest.c_str());
        return value;
    }

    unsigned hex4() {
        if (m_pos + 4 > m_text.size()) {
            fail("short \\u escape");
        }
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_text[m_pos++];
            v <<= 4;
            if (h >= '0' && h <= '9') {
                v |= static_cast<unsigned>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                v |= static_cast<unsigned>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                v |= static_cast<unsigned>(h - 'A' + 10);
            } else {
                fail("bad \\u escape");
            }
        }
        return v;
    }

    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::string parseString() {
        expect('"');
        std::string out;
        for (;;) {
            if (m_pos >= m_text.size()) {
                fail("unterminated string");
            }
            const char c = m_text[m_pos++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) {
                fail("unterminated escape");
            }
            const char e = m_text[m_pos++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF && m_text.substr(m_pos, 2) == "\\u") {
                        m_pos += 2;
                        const unsigned low = hex4();
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    fail("bad escape");
            }
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

// The first executable `name` on PATH.
std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr && *path != '\0' ? path
                                                             : "/usr/local/bin:/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

const Json* Json::find(std::string_view key) const {
    for (const auto& [name, value] : object) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

const Json& Json::member(std::string_view key) const {
    const Json* value = find(key);
    if (value == nullptr) {
        throw std::runtime_error("no member \"" + std::string(key) + "\"");
    }
    return *value;
}

const std::string& Json::text(std::string_view key) const {
    const Json& value = member(key);
    if (value.type != Type::String) {
        throw std::runtime_error("member \"" + std::string(key) + "\" is not a string");
    }
    return value.string;
}

std::int64_t Json::integer(std::string_view key) const {
    const Json& value = member(key);
    if (value.type != Type::Number || std::floor(value.number) != value.number) {
        throw std::runtime_error("member \"" + std::string(key) + "\" is not a whole number");
    }
    return static_cast<std::int64_t>(value.number);
}

Json ParseJson(std::string_view text) {
    return JsonParser(text).document();
}

std::string Hex(const std::vector<std::uint8_t>& octets) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t o : octets) {
        out += kDigits[o >> 4];
        out += kDigits[o & 0x0F];
    }
    return out;
}

SmscServer::SmscServer(const std::string& systemId, const std::string& password,
                       const std::string& workDir)
    : m_logPath(workDir + "/smsc-pdus.jsonl") {
    const std::string node = FindOnPath("node");
    if (node.empty()) {
        throw interop::SetupError(
            "node is missing: install the Debian package nodejs (scripts/install-deps.sh does)");
    }
    const std::string dir = std::string(VANTOR_SOURCE_DIR) + "/tests/smpp-interop/smsc";
    if (::access((dir + "/node_modules/smpp/package.json").c_str(), R_OK) != 0) {
        throw interop::SetupError("The npm package smpp is not installed in " + dir +
                                  ": run scripts/install-deps.sh (it runs npm ci there)");
    }
    // A port picked here may be taken by another process before the server
    // binds it; then the server ends at once and gets another port.
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        m_port = interop::FreePort();
        auto process = std::make_unique<interop::ServerProcess>(
            "smsc",
            std::vector<std::string>{node, dir + "/smsc.js", "--port", std::to_string(m_port),
                                     "--system-id", systemId, "--password", password, "--log",
                                     m_logPath},
            workDir + "/smsc-output.log", workDir);
        try {
            process->waitForPort(m_port);
            m_process = std::move(process);
            return;
        } catch (const interop::SetupError&) {
            if (process->running() || attempt == kAttempts) {
                throw;
            }
        }
    }
}

std::vector<Json> SmscServer::lines() const {
    std::vector<Json> out;
    // A line still being written is left for the next look.
    std::string text = test::ReadFile(m_logPath);
    text.erase(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            out.push_back(ParseJson(line));
        }
    }
    return out;
}

std::vector<Json> SmscServer::select(std::string_view direction, std::string_view field,
                                     std::string_view value) const {
    std::vector<Json> out;
    for (Json& line : lines()) {
        const Json* d = line.find("direction");
        const Json* f = line.find(field);
        if (d != nullptr && d->string == direction && f != nullptr && f->string == value) {
            out.push_back(std::move(line));
        }
    }
    return out;
}

std::vector<Json> SmscServer::received(std::string_view command) const {
    return select("in", "command", command);
}

std::vector<Json> SmscServer::sent(std::string_view command) const {
    return select("out", "command", command);
}

std::vector<Json> SmscServer::events(std::string_view event) const {
    return select("event", "event", event);
}

bool SmscServer::waitFor(const std::function<bool(const std::vector<Json>&)>& done,
                         std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done(lines())) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string SmscServer::diagnostics() const {
    return "SMSC lines (" + m_logPath + "):\n" + test::ReadFile(m_logPath) +
           (m_process ? m_process->logTail() : std::string());
}

}  // namespace vantor::smppinterop
