// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "InteropProcess.h"

namespace vantor::smppinterop {

// A JSON value as the SMS centre writes it: enough of JSON to read its lines
// back field by field.
struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;
    std::vector<std::pair<std::string, Json>> object;

    // The member with this name, or nullptr (also when this is no object).
    const Json* find(std::string_view key) const;
    bool has(std::string_view key) const { return find(key) != nullptr; }
    // The member as text or as a whole number; a missing member or one of
    // another type throws, so that a test sees which field was not there.
    const std::string& text(std::string_view key) const;
    std::int64_t integer(std::string_view key) const;
    const Json& member(std::string_view key) const;
};

// Parses one JSON text; throws std::runtime_error with the offset on a
// syntax error.
Json ParseJson(std::string_view text);

// The SMS centre of tests/smpp-interop/smsc (Node.js and the npm package
// "smpp"), run on a free port of 127.0.0.1 for one test. It accepts a bind
// with this system_id and password and writes every PDU it receives, every
// answer it sends and every connect and close as JSON lines to a file.
class SmscServer final {
public:
    // Throws interop::SetupError when node or the npm package is missing,
    // or when the server does not come up.
    SmscServer(const std::string& systemId, const std::string& password,
               const std::string& workDir);

    int port() const { return m_port; }
    // Every line written so far, parsed.
    std::vector<Json> lines() const;
    // The PDUs received ("direction":"in") with this command, in order.
    std::vector<Json> received(std::string_view command) const;
    // The answers sent ("direction":"out") with this command, in order.
    std::vector<Json> sent(std::string_view command) const;
    // The connect and close events, in order.
    std::vector<Json> events(std::string_view event) const;
    // Polls the lines until `done` holds for them or the time runs out;
    // returns whether it held.
    bool waitFor(const std::function<bool(const std::vector<Json>&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // The file the lines are written to, and what the server printed.
    const std::string& logPath() const { return m_logPath; }
    std::string diagnostics() const;

private:
    std::vector<Json> select(std::string_view direction, std::string_view field,
                             std::string_view value) const;

    int m_port = 0;
    std::string m_logPath;
    std::unique_ptr<interop::ServerProcess> m_process;
};

// Octets as lower-case hexadecimal pairs, as the server writes them.
std::string Hex(const std::vector<std::uint8_t>& octets);

}  // namespace vantor::smppinterop
