// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the SMTP/FTP reply reader: the input is what a server
// sends, read through one end of a socketpair by a TcpConnection, reply by
// reply, until the reader refuses or the stream ends. The first byte picks
// the line cap, how the bytes arrive and whether a greeting is read; one
// line of the input may be repeated many times so that the caps on lines
// and bytes are reached.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "FuzzSupport.h"
#include "net/TcpConnection.h"
#include "net/TextProtocol.h"

using namespace vantor;
using namespace vantor::net;

namespace {

// How many bytes arrive in pieces when asked: enough for several replies,
// few enough that a long stream does not take a million sends.
constexpr std::size_t kPiecesFor = 4096;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void CheckReply(const NumericReply& reply, std::size_t maxLine) {
    FUZZ_CHECK(!reply.lines.empty());
    FUZZ_CHECK(reply.lines.size() <= kMaxReplyLines);
    FUZZ_CHECK(reply.code >= 0 && reply.code <= 999);
    const std::string& first = reply.lines.front();
    FUZZ_CHECK(first.size() >= 3 && IsDigit(first[0]) && IsDigit(first[1]) && IsDigit(first[2]));
    FUZZ_CHECK(std::stoi(first.substr(0, 3)) == reply.code);
    std::size_t bytes = 0;
    for (const std::string& line : reply.lines) {
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        // A line may end in the last chunk read beyond the cap.
        FUZZ_CHECK(line.size() <= maxLine + 16 * 1024);
        bytes += line.size();
    }
    FUZZ_CHECK(bytes <= kMaxReplyBytes);
    // A block ends with its code and a blank (or the bare code).
    const std::string& last = reply.lines.back();
    if (reply.lines.size() > 1) {
        FUZZ_CHECK(last.compare(0, 3, first, 0, 3) == 0);
        FUZZ_CHECK(last.size() == 3 || last[3] == ' ');
    } else {
        FUZZ_CHECK(first.size() == 3 || first[3] == ' ');
    }
    const std::string text = reply.text();
    FUZZ_CHECK(text.empty() || (text.front() != ' ' && text.back() != ' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The head of the input, read from the front so that seeds are easy to
    // write: a mode byte, then what its bits ask for.
    std::string_view in(reinterpret_cast<const char*>(data), size);
    auto next = [&in]() -> std::uint8_t {
        if (in.empty()) {
            return 0;
        }
        const auto c = static_cast<std::uint8_t>(in.front());
        in.remove_prefix(1);
        return c;
    };
    const std::uint8_t mode = next();
    // 1: a small line cap, 1 + 16 * the next byte.
    const std::size_t maxLine =
        (mode & 1) ? 1 + 16 * std::size_t{next()} : TcpConnection::kDefaultMaxLine;
    // 2: the first bytes arrive in pieces of 1 + (the next byte % 64).
    const std::size_t chunk = (mode & 2) ? 1 + next() % 64 : 0;
    std::string stream;
    if (mode & 4) {
        // 4: a count (two bytes, big-endian) and a line (a length byte and
        // the line): the line that many times comes first.
        std::size_t times = std::size_t{next()} << 8;
        times |= next();
        const std::size_t length = std::min<std::size_t>(next(), in.size());
        const std::string_view line = in.substr(0, length);
        in.remove_prefix(length);
        for (std::size_t i = 0; i < times && stream.size() <= kMaxReplyBytes + 4096; ++i) {
            stream += line;
        }
    }
    // 8: a 220 greeting is read first.
    stream += in;

    int fds[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    const int flags = ::fcntl(fds[0], F_GETFL);
    FUZZ_CHECK(::fcntl(fds[0], F_SETFL, flags | O_NONBLOCK) == 0);

    // The server: sends everything (in small pieces when asked), then ends
    // its side. It stops when the reader has closed its end.
    std::thread server([fd = fds[1], &stream, chunk] {
        std::string_view rest = stream;
        while (!rest.empty()) {
            const std::size_t n = chunk && rest.size() + kPiecesFor > stream.size()
                                      ? std::min(chunk, rest.size())
                                      : rest.size();
            const ssize_t sent = ::send(fd, rest.data(), n, MSG_NOSIGNAL);
            if (sent <= 0) {
                break;
            }
            rest.remove_prefix(static_cast<std::size_t>(sent));
        }
        ::shutdown(fd, SHUT_WR);
    });

    {
        TcpConnection connection;
        connection.adopt(fds[0]);
        connection.setMaxLineLength(maxLine);
        const Deadline deadline = DeadlineAfter(10000);
        if (mode & 8) {
            const Status greeting = ReadGreeting220(connection, deadline);
            static_cast<void>(greeting);
        }
        for (;;) {
            Expected<NumericReply> reply = ReadNumericReply(connection, deadline);
            if (!reply) {
                FUZZ_CHECK(!reply.error().empty());
                // The server's end is closed: the stream ends, it never stalls.
                FUZZ_CHECK(reply.error().rfind("Timed out", 0) != 0);
                break;
            }
            CheckReply(*reply, maxLine);
            static_cast<void>(RefusedReply(*reply));
        }
    }  // closes the reader's end, so a server still sending stops
    server.join();
    ::close(fds[1]);
    return 0;
}
