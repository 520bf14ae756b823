// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"
#include "net/TcpConnection.h"

namespace vantor::net {

// Most bytes and lines one reply may hold: a server that sends more is
// refused rather than buffered.
inline constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
inline constexpr std::size_t kMaxReplyLines = 10000;

// A reply of the SMTP and FTP kind: a three-digit code, and one line or a
// block of lines that ends with the code and a blank.
struct NumericReply {
    int code = 0;
    std::vector<std::string> lines;  // whole lines, codes included
    // The words after the code of every line, joined by blanks and trimmed.
    std::string text() const;
};

std::string Trim(std::string_view text);
// Whether the text would break out of one protocol line.
bool HasLineBreak(std::string_view text);

// Sends text + CR LF; a text with CR or LF in it is refused before anything
// is sent, so that no value can add a command of its own.
Status SendLine(TcpConnection& connection, std::string_view text, Deadline deadline);

Expected<NumericReply> ReadNumericReply(TcpConnection& connection, Deadline deadline);

// The error a refused reply raises: its text without the code, empty when
// the reply is only a code.
Error RefusedReply(const NumericReply& reply);

// Reads the server's greeting; anything but 220 ("service ready", SMTP and
// FTP alike) is a refusal.
Status ReadGreeting220(TcpConnection& connection, Deadline deadline);

}  // namespace vantor::net
