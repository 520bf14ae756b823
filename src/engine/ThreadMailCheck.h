// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "engine/CheckWorkItem.h"

namespace vantor::engine {

struct Credentials {
    std::string username;
    std::string password;
};

// Passes when the SMTP server greets with 220 and answers EHLO (or, after
// any other answer, HELO) with 250. The credentials are kept but never
// used: the check sends no mail and so never authenticates.
class ThreadSMTPCheck final : public CheckWorkItem {
public:
    ThreadSMTPCheck(const CheckSettings& settings, const Credentials& credentials);

protected:
    Status exchange(net::Deadline deadline) override;

private:
    Credentials m_credentials;
};

// Passes when the POP3 server greets with +OK and accepts USER and PASS.
class ThreadPOP3Check final : public CheckWorkItem {
public:
    ThreadPOP3Check(const CheckSettings& settings, const Credentials& credentials);

protected:
    Status exchange(net::Deadline deadline) override;

private:
    Credentials m_credentials;
};

// Passes when the IMAP server greets with PREAUTH, or with OK and then
// accepts LOGIN (tagged C1).
class ThreadIMAPCheck final : public CheckWorkItem {
public:
    ThreadIMAPCheck(const CheckSettings& settings, const Credentials& credentials);

protected:
    Status exchange(net::Deadline deadline) override;

private:
    Credentials m_credentials;
};

}  // namespace vantor::engine
