// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/ThreadSMS.h"

#include "app/AppSettings.h"
#include "app/Messages.h"
#include "net/TextProtocol.h"
#include "smpp/TtcSMSCRelaySMPP.h"

namespace vantor::alarm {

SmsSettings SmsSettingsFrom(const app::AppSettings& s, const std::string& destination) {
    SmsSettings sms;
    sms.host = s.smsIp;
    sms.port = s.smsPort;
    if (s.smsAuthEnable) {
        sms.systemId = s.smsUsername;
        sms.password = s.smsPassword;
    }
    sms.originator = s.smsOa;
    sms.destination = destination;
    sms.interfaceVersion = s.smsVersion;
    sms.systemType = s.smsSystemType;
    sms.bindTon = s.smsTon;
    sms.bindNpi = s.smsNpi;
    sms.destTon = s.smsDestTon;
    sms.destNpi = s.smsDestNpi;
    sms.origTon = s.smsOrigTon;
    sms.origNpi = s.smsOrigNpi;
    sms.timeoutMs = s.smsTimeout;
    return sms;
}

ThreadSMS::ThreadSMS(const SmsSettings& settings, std::string text, app::Poster* owner)
    : SenderWorkItem(settings.host, settings.port),
      m_settings(settings),
      m_text(std::move(text)),
      m_relay(std::make_unique<smpp::TtcSMSCRelaySMPP>(owner)) {
    if (m_settings.timeoutMs <= 0) {
        m_settings.timeoutMs = 5000;
    }
}

ThreadSMS::~ThreadSMS() = default;

Status ThreadSMS::send() {
    smpp::TtcSMSCRelaySMPP& relay = *m_relay;
    relay.SetResponseTimeOut(m_settings.timeoutMs);
    Status outcome;
    const int connected = relay.Connect(m_settings.host, m_settings.port);
    if (connected != 0) {
        outcome = Error{std::string(app::msg::kSmppConnectionFailed) + std::to_string(connected)};
    } else if (const int bound =
                   relay.Bind(m_settings.systemId, m_settings.password, m_settings.bindTon & 0xFF,
                              m_settings.bindNpi & 0xFF, m_settings.systemType, 1,
                              m_settings.interfaceVersion & 0xFF, m_settings.originator);
               bound != 0) {
        outcome = Error{std::string(app::msg::kSmppBindingFailed) + std::to_string(bound)};
    } else {
        std::string messageId;
        smpp::SubmitRequest submit;
        submit.destination = m_settings.destination;
        submit.destTon = m_settings.destTon & 0xFF;
        submit.destNpi = m_settings.destNpi & 0xFF;
        submit.originator = m_settings.originator;
        submit.origTon = m_settings.origTon & 0xFF;
        submit.origNpi = m_settings.origNpi & 0xFF;
        submit.text = m_text;
        submit.options = smpp::SubmitOption::RegisteredDelivery;
        const int submitted = relay.SubmitMessage(submit, &messageId);
        if (submitted != 0) {
            outcome = Error{std::string(app::msg::kSmppSendingFailed) + std::to_string(submitted)};
        }
    }
    // Always, also after an error.
    relay.Unbind();
    relay.Disconnect();
    m_relay.reset();
    return outcome;
}

std::string ThreadSMS::errorDetail(const std::string& error) const {
    // The three step texts stand on their own; anything else names the SMSC.
    if (error.rfind("ERR008", 0) == 0) {
        return error;
    }
    return SenderWorkItem::errorDetail(error);
}

}  // namespace vantor::alarm
