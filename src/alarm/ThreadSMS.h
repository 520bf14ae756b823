// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "alarm/SenderWorkItem.h"

namespace vantor::app {
class Poster;
struct AppSettings;
}  // namespace vantor::app

namespace vantor::smpp {
class TtcSMSCRelaySMPP;
}

namespace vantor::alarm {

struct SmsSettings {
    std::string host;
    int port = 50111;
    std::string systemId;  // empty unless authentication is on
    std::string password;
    std::string originator;   // OA
    std::string destination;  // the whole Phone text as one address
    int interfaceVersion = 34;
    std::string systemType = "TCP";
    int bindTon = 1;
    int bindNpi = 1;
    int destTon = 1;
    int destNpi = 1;
    int origTon = 1;
    int origNpi = 1;
    int timeoutMs = 5000;  // 0 or below means 5000
};

// The SMS settings of an alarm: the "SMS Alarm" section and the target.
SmsSettings SmsSettingsFrom(const app::AppSettings& settings, const std::string& destination);

// Sends the alarm as one short message through an SMS centre over SMPP:
// connect, bind as transmitter, submit, then always unbind and disconnect.
// Each step that fails has its own text (ERR00801, ERR00802, ERR00803)
// followed by the result code.
class ThreadSMS final : public SenderWorkItem {
public:
    // The relay is made here, on the queueing thread; its notifications go
    // to `owner` (or stay on its receive thread without one).
    ThreadSMS(const SmsSettings& settings, std::string text, app::Poster* owner = nullptr);
    ~ThreadSMS() override;

    std::string_view methodWord() const override { return kMethodSms; }

protected:
    Status send() override;
    std::string_view logName() const override { return "SMS"; }
    std::string errorDetail(const std::string& error) const override;

private:
    SmsSettings m_settings;
    std::string m_text;
    std::unique_ptr<smpp::TtcSMSCRelaySMPP> m_relay;
};

}  // namespace vantor::alarm
