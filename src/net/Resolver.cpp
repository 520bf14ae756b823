// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Resolver.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "net/Probe.h"

namespace vantor::net {

std::string Address::ip() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text,
                    sizeof text);
    } else if (family() == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text,
                    sizeof text);
    }
    return text;
}

namespace {

struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    int savedErrno = 0;
    std::vector<Address> addresses;
};

std::vector<Address> Collect(addrinfo* list) {
    std::vector<Address> out;
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        Address a;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        out.push_back(a);
    }
    return out;
}

std::string LookupError(const std::string& host, int rc, int err) {
    std::string text = "Cannot resolve host name \"" + host + "\": ";
    text += rc == EAI_SYSTEM ? std::strerror(err) : ::gai_strerror(rc);
    return text;
}

}  // namespace

std::string PortRangeProblem(int port) {
    if (port < 0 || port > 65535) {
        return "Port " + std::to_string(port) + " is out of range";
    }
    return {};
}

Expected<std::vector<Address>> Resolve(const std::string& host, int port, int socketType,
                                       Deadline deadline) {
    if (host.empty()) {
        return Error{"The host name is empty"};
    }
    if (std::string problem = PortRangeProblem(port); !problem.empty()) {
        return Error{std::move(problem)};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    // A name in another script (bücher.example) is looked up in its ASCII
    // form (xn--bcher-kva.example), as libcurl does for a URL: the name is
    // read in the character set of LC_CTYPE, which the program sets to UTF-8.
    hints.ai_flags = AI_ADDRCONFIG | AI_IDN;
    const std::string service = std::to_string(port);
    // The first lookup of a check is the one its facts tell.
    app::ProbeFacts& probe = ThisProbe();
    const auto started = std::chrono::steady_clock::now();
    auto noteLookup = [&] {
        if (!probe.dnsLookupUs) {
            probe.dnsLookupUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - started)
                                    .count();
        }
    };

    // An address text needs no lookup and is answered at once: a dotted
    // quad or an IPv6 address without a zone straight from inet_pton, the
    // other forms (127.1, fe80::1%eth0) through getaddrinfo.
    {
        Address a;
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(static_cast<std::uint16_t>(port));
            a.length = sizeof *v4;
            noteLookup();
            return std::vector<Address>{a};
        }
        a = Address{};
        if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(static_cast<std::uint16_t>(port));
            a.length = sizeof *v6;
            noteLookup();
            return std::vector<Address>{a};
        }
    }
    addrinfo numericHints = hints;
    numericHints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), service.c_str(), &numericHints, &list) == 0) {
        std::vector<Address> out = Collect(list);
        ::freeaddrinfo(list);
        noteLookup();
        return out;
    }

    // getaddrinfo has no time limit of its own: it runs on a thread of its
    // own, and a lookup that outlives the deadline finishes there unheeded.
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service, hints] {
            addrinfo* found = nullptr;
            const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            const int err = errno;
            std::vector<Address> addresses;
            if (rc == 0) {
                addresses = Collect(found);
                ::freeaddrinfo(found);
            }
            std::lock_guard lock(lookup->mutex);
            lookup->rc = rc;
            lookup->savedErrno = err;
            lookup->addresses = std::move(addresses);
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        return Error{LookupError(host, EAI_SYSTEM, EAGAIN)};
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        return Error{"Cannot resolve host name \"" + host + "\": the lookup timed out"};
    }
    noteLookup();
    if (lookup->rc != 0) {
        return Error{LookupError(host, lookup->rc, lookup->savedErrno)};
    }
    if (lookup->addresses.empty()) {
        return Error{"Cannot resolve host name \"" + host + "\": no address"};
    }
    return std::move(lookup->addresses);
}

}  // namespace vantor::net
