// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace vantor::smpp {

// Host lookup: "" gives "0.0.0.0"; a name that does not start with a digit
// is resolved to its first IPv4 address ("" when it does not resolve, or
// when the lookup outlasts timeoutMs); a text that starts with a digit is
// kept when it is an IPv4 address, else "".
std::string LookupHost(const std::string& host, int timeoutMs = 5000);
// Port lookup: "" gives 0; a service name known to the system gives its TCP
// port; anything else is read as a decimal number (0 when it is none).
int LookupPort(const std::string& port);

// The SMPP client's TCP connection with an 8192-byte receive buffer that the
// PDU layer can look into before it consumes bytes. One thread receives
// (WaitForData, ReadData, PeekData, ReceiveData); others may Send, and
// CancelBlocking or Disconnect wake the receiving thread.
class TtcTcpClient final {
public:
    static constexpr std::size_t kBufferSize = 8192;

    TtcTcpClient();
    ~TtcTcpClient();
    TtcTcpClient(const TtcTcpClient&) = delete;
    TtcTcpClient& operator=(const TtcTcpClient&) = delete;

    // Takes an already connected socket (the listening mode's accept).
    void adopt(int fd, std::string remoteHost, int remotePort);

    // Connects to host:port, waiting at most timeoutMs. Returns 0, or the
    // system's error number (ETIMEDOUT when the wait ran out).
    int Connect(const std::string& host, const std::string& port, int timeoutMs);
    bool Connected() const { return m_connected.load(); }
    // Shuts the connection down in both directions and wakes a waiting
    // receiver. The descriptor stays open, so that a thread still using it
    // never meets a reused number, until Close (or the destructor).
    void Disconnect();
    void Close();

    // One send call for the whole buffer; false on failure.
    bool Send(const std::uint8_t* data, std::size_t length);
    // Readable, no error, and a one-byte peek gives one byte. timeoutMs < 0
    // waits without limit. False when closed, failed, timed out or
    // cancelled.
    bool WaitForData(int timeoutMs);
    // Ends a wait in WaitForData at once (now or the next one).
    void CancelBlocking();
    void ResetCancel();

    // One receive into the free end of the buffer; -1 on failure, 0 at the
    // end of the stream. With a full buffer it asks for 0 bytes.
    long ReadData();
    std::size_t BytesRead() const { return m_bytesRead; }
    std::size_t PeekData(std::uint8_t* destination, std::size_t n) const;
    std::size_t ReceiveData(std::uint8_t* destination, std::size_t n);

    // The errno of the last failed call.
    int lastError() const { return m_lastError.load(); }
    const std::string& remoteHost() const { return m_remoteHost; }
    int remotePort() const { return m_remotePort; }

private:
    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_connected{false};
    int m_cancelFd = -1;  // an eventfd that ends waits
    std::uint8_t m_buffer[kBufferSize];
    std::size_t m_bytesRead = 0;
    std::atomic<int> m_lastError{0};
    std::mutex m_sendMutex;
    std::string m_remoteHost;
    int m_remotePort = 0;
};

}  // namespace vantor::smpp
