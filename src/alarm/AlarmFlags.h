// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vantor::alarm {

// The alarm methods a service asks for (alarm_email, alarm_smpp, ...).
struct AlarmFlags {
    bool email = false;
    bool smpp = false;
    bool httpSms = false;
    bool syslog = false;
};

}  // namespace vantor::alarm
