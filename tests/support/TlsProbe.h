#pragma once

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::test {

// One turn of a line dialogue: `send` (when not empty) goes out as it is,
// line ends included, then lines are read until one starts with `expect`
// (none when empty).
struct DialogueStep {
    std::string send;
    std::string expect;
};

struct TlsProbeOptions {
    // In the clear before the handshake: a greeting and STARTTLS, STLS or
    // AUTH TLS. Empty for implicit TLS.
    std::vector<DialogueStep> before;
    // Over TLS after the handshake (a greeting, a login).
    std::vector<DialogueStep> after;
    // The CA that the server's chain must lead to.
    std::string caFile;
    // The name (or IP address) that the certificate must be for; a name is
    // also sent as SNI.
    std::string host = "localhost";
    // For each wait: the connect, each line, the handshake.
    std::chrono::milliseconds timeout = std::chrono::seconds(5);
};

struct TlsProbeResult {
    bool handshake = false;    // the TLS handshake completed
    long verifyResult = -1;    // OpenSSL's X509_V_* code; X509_V_OK when trusted
    std::string verifyError;   // OpenSSL's words for verifyResult
    std::string protocol;      // "TLSv1.3", ...
    std::time_t notAfter = 0;  // of the server's certificate
    // Why the probe stopped early; empty when every step went through.
    std::string error;
    // Every line read, in both phases, without CR LF.
    std::vector<std::string> lines;

    bool verified() const { return handshake && verifyResult == 0; }
};

// Connects to 127.0.0.1:port with raw OpenSSL, as a client of any protocol
// would: the plain steps, the handshake (which goes on whatever the
// certificate; the verification is reported), then the steps over TLS.
TlsProbeResult ProbeTls(int port, const TlsProbeOptions& options);

// For AUTH PLAIN and LOGIN lines in dialogues.
std::string Base64(std::string_view data);

}  // namespace vantor::test
