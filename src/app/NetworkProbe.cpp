// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NetworkProbe.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/Messages.h"
#include "app/SystemLog.h"

namespace vantor::app {

void ProbeNetwork(Reporter& reporter, SystemLog& log) {
    char name[101] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        const int err = errno;
        msg::Text text;
        if (err == EINPROGRESS) {
            text = msg::kNetworkInProgress;
        } else if (err == ENETDOWN) {
            text = msg::kNetworkDown;
        } else {
            return;
        }
        ReportFailure(reporter, log, text, MessageBoxKind::Warning, LogLevel::Warming);
        return;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name, nullptr, &hints, &found);
    if (rc != 0) {
        std::string failure = "Cannot resolve the local host name \"";
        failure += name;
        failure += "\": ";
        failure += rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
        ReportFailure(reporter, log, msg::kNetworkConnectionFail, failure, MessageBoxKind::Warning,
                      LogLevel::Warming);
        return;
    }
    ::freeaddrinfo(found);
}

}  // namespace vantor::app
