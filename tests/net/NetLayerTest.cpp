// SPDX-License-Identifier: GPL-3.0-or-later
// The TCP layer's limits and the UDP send, against local sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/TcpConnection.h"
#include "net/TextProtocol.h"
#include "net/UdpSender.h"
#include "support/FakeServer.h"

namespace vantor::net {
namespace {

using namespace std::chrono_literals;
using test::FakeConnection;
using test::FakeServer;

TEST(TcpConnection, ReadsLinesAcrossPacketsAndRefusesOverlongOnes) {
    FakeServer server([](FakeConnection& c) {
        c.send("one\r\ntw");
        std::this_thread::sleep_for(20ms);
        c.send("o\nthree\r\n");
        c.send(std::string(100, 'x'));
        c.waitForClose(2s);
    });
    TcpConnection connection;
    ASSERT_TRUE(connection.connect("127.0.0.1", server.port(), DeadlineAfter(2000)).ok());
    connection.setMaxLineLength(64);
    EXPECT_EQ(connection.readLine(DeadlineAfter(2000)).value(), "one");
    EXPECT_EQ(connection.readLine(DeadlineAfter(2000)).value(), "two");
    EXPECT_EQ(connection.readLine(DeadlineAfter(2000)).value(), "three");
    const auto overlong = connection.readLine(DeadlineAfter(2000));
    ASSERT_FALSE(overlong.ok());
    EXPECT_EQ(overlong.error(), "The server sent a line longer than 64 bytes");
}

TEST(TcpConnection, EveryWaitEndsAtItsDeadline) {
    FakeServer server([](FakeConnection& c) { c.waitForClose(5s); });
    TcpConnection connection;
    ASSERT_TRUE(connection.connect("127.0.0.1", server.port(), DeadlineAfter(2000)).ok());
    const auto start = std::chrono::steady_clock::now();
    const auto line = connection.readLine(DeadlineAfter(300));
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(line.ok());
    EXPECT_EQ(line.error(), "Timed out waiting for the server");
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 1s);
}

TEST(TcpConnection, ACloseAndARefusedConnectAreReportedAsSuch) {
    FakeServer server([](FakeConnection& c) { c.send("partial"); });
    TcpConnection connection;
    ASSERT_TRUE(connection.connect("127.0.0.1", server.port(), DeadlineAfter(2000)).ok());
    EXPECT_EQ(connection.readLine(DeadlineAfter(2000)).error(), "The server closed the connection");

    int port;
    {
        FakeServer gone([](FakeConnection&) {});
        port = gone.port();
    }
    const Status refused = connection.connect("127.0.0.1", port, DeadlineAfter(2000));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(),
              "Cannot connect to 127.0.0.1 port " + std::to_string(port) + ": Connection refused");
}

TEST(TextProtocol, MultiLineRepliesAndTheirWords) {
    FakeServer server([](FakeConnection& c) {
        c.send("250-first\r\n250-second\r\n250 last\r\n");
        c.send("214-help\r\nfree text inside\r\n214 end\r\n");
        c.send("garbage\r\n");
        c.waitForClose(2s);
    });
    TcpConnection connection;
    ASSERT_TRUE(connection.connect("127.0.0.1", server.port(), DeadlineAfter(2000)).ok());
    const auto first = ReadNumericReply(connection, DeadlineAfter(2000));
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first->code, 250);
    EXPECT_EQ(first->text(), "first second last");
    const auto second = ReadNumericReply(connection, DeadlineAfter(2000));
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->lines.size(), 3u);
    EXPECT_EQ(ReadNumericReply(connection, DeadlineAfter(2000)).error(),
              "Unexpected reply from the server: garbage");
}

TEST(TextProtocol, ALineBreakNeverReachesTheWire) {
    FakeServer server([](FakeConnection& c) {
        while (c.readLine(2s)) {
        }
    });
    TcpConnection connection;
    ASSERT_TRUE(connection.connect("127.0.0.1", server.port(), DeadlineAfter(2000)).ok());
    EXPECT_FALSE(SendLine(connection, "USER a\r\nDELE 1", DeadlineAfter(1000)).ok());
    EXPECT_FALSE(SendLine(connection, "USER a\nb", DeadlineAfter(1000)).ok());
    EXPECT_TRUE(SendLine(connection, "NOOP", DeadlineAfter(1000)).ok());
    connection.close();
    EXPECT_EQ(server.received(), std::vector<std::string>{"NOOP"});
}

TEST(UdpSender, OneDatagramArrivesWhole) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string payload = "<8>Dec  8 14:00:00 host text";
    ASSERT_TRUE(
        SendUdpDatagram("127.0.0.1", ntohs(addr.sin_port), payload, DeadlineAfter(1000)).ok());
    char buf[2048];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ::close(fd);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), payload);
    EXPECT_FALSE(SendUdpDatagram("no-such-host.invalid", 514, "x", DeadlineAfter(1000)).ok());
}

}  // namespace
}  // namespace vantor::net
