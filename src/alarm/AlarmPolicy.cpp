// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/AlarmPolicy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/AppSettings.h"
#include "app/ReserveFor.h"
#include "app/TimeFormat.h"

namespace vantor::alarm {

namespace {

constexpr std::int64_t kMinute = 60;

std::string HourMinute(std::int64_t epoch) {
    const app::LocalTime t =
        app::ToLocalTime(std::chrono::system_clock::time_point(std::chrono::seconds(epoch)));
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
    return buf;
}

}  // namespace

std::string_view NoticeTypeName(NoticeType type) {
    switch (type) {
        case NoticeType::Failure:
            return "Failure";
        case NoticeType::Reminder:
            return "Reminder";
        case NoticeType::Recovery:
            return "Recovery";
        case NoticeType::Flapping:
            return "Flapping";
        case NoticeType::Stable:
            return "Stable";
    }
    return "Failure";
}

PolicySettings PolicySettings::From(const app::AppSettings& s) {
    PolicySettings p;
    p.onChange = s.alarmOn == "OnChange";
    p.failAfter = std::max(1, s.alarmFailAfter);
    p.recovery = s.alarmRecovery;
    p.recoverAfter = std::max(1, s.alarmRecoverAfter);
    p.remindEvery = s.alarmRemindEvery <= 0 ? 0 : std::max(5, s.alarmRemindEvery);
    p.flapDetect = s.alarmFlapDetect;
    return p;
}

bool PolicySettings::isDefault() const {
    const PolicySettings d;
    return onChange == d.onChange && failAfter == d.failAfter && recovery == d.recovery &&
           recoverAfter == d.recoverAfter && remindEvery == d.remindEvery &&
           flapDetect == d.flapDetect;
}

std::string PolicySettings::describe() const {
    const PolicySettings d;
    std::string out;
    auto add = [&out](const std::string& part) { out += (out.empty() ? "" : ", ") + part; };
    if (onChange != d.onChange) {
        add("AlarmOn OnChange");
    }
    if (failAfter != d.failAfter) {
        add("FailAfter " + std::to_string(failAfter));
    }
    if (recovery != d.recovery) {
        add("Recovery on");
    }
    if (recoverAfter != d.recoverAfter) {
        add("RecoverAfter " + std::to_string(recoverAfter));
    }
    if (remindEvery != d.remindEvery) {
        add("RemindEvery " + std::to_string(remindEvery));
    }
    if (flapDetect != d.flapDetect) {
        add("FlapDetect on");
    }
    return out;
}

AlarmPolicy::AlarmPolicy(PolicySettings settings) : m_settings(settings) {}

std::optional<Notice> AlarmPolicy::verdict(const std::string& key, std::int64_t time, bool failed,
                                           const std::string& detail, bool muted,
                                           const PolicySettings* own) {
    State& s = m_states[key];
    static_assert(kFlapWindow <= 32);
    s.last.push(failed, kFlapWindow);
    std::optional<Notice> notice = decide(s, own ? *own : m_settings, time, failed, detail);
    if (muted) {
        return std::nullopt;
    }
    return notice;
}

int AlarmPolicy::Changes(const State::Window& last) {
    int changes = 0;
    for (std::size_t i = 1; i < last.size(); ++i) {
        changes += last[i] != last[i - 1] ? 1 : 0;
    }
    return changes;
}

std::optional<Notice> AlarmPolicy::decide(State& s, const PolicySettings& p, std::int64_t time,
                                          bool failed, const std::string& detail) {
    if (failed) {
        ++s.failedInARow;
        s.passedInARow = 0;
        if (s.alarmedAt == 0 && s.failedInARow == 1) {
            s.failingSince = time;
        }
        s.lastText = detail;
    } else {
        ++s.passedInARow;
        s.failedInARow = 0;
    }
    auto endOutage = [&s] {
        s.alarmedAt = 0;
        s.reminders = 0;
        s.notices = 0;
        s.failingSince = 0;
    };
    auto startAlarm = [&s, time, &detail] {
        s.alarmedAt = time;
        s.reminders = 0;
        s.notices = 0;
        s.remindSlot = 0;
        s.firstText = detail;
    };
    const bool outageEnds = !failed && s.alarmedAt != 0 && s.passedInARow >= p.recoverAfter;

    if (p.flapDetect) {
        // The share of changes among the verdicts seen, over the last 21
        // once there are that many; two changes at least before it starts
        // (failed, passed, failed is flapping already, but passed, passed,
        // failed is a service going down).
        const int changes = Changes(s.last);
        const int steps = static_cast<int>(s.last.size()) - 1;
        const std::string counted = std::to_string(changes) + "/" + std::to_string(s.last.size());
        if (!s.flapping && changes >= 2 && changes * 5 > steps) {
            s.flapping = true;
            return Notice{NoticeType::Flapping, "FLAPPING (" + counted + "): " + s.lastText};
        }
        if (s.flapping) {
            if (changes * 20 < steps && steps + 1 >= kFlapWindow) {
                s.flapping = false;
                // It settled: failing, it counts as alarmed from here on;
                // passing, the outage is over.
                if (failed) {
                    startAlarm();
                } else {
                    endOutage();
                }
                return Notice{NoticeType::Stable, "STABLE again: " + s.lastText};
            }
            if (outageEnds) {
                endOutage();
            }
            return std::nullopt;
        }
    }

    if (!failed) {
        if (!outageEnds) {
            return std::nullopt;
        }
        const std::int64_t minutes = (time - s.failingSince) / kMinute;
        const std::string text = s.firstText;
        endOutage();
        if (!p.recovery) {
            return std::nullopt;
        }
        return Notice{NoticeType::Recovery,
                      "RECOVERED after " + std::to_string(minutes) + " min: " + text};
    }
    if (s.alarmedAt == 0) {
        if (s.failedInARow < p.failAfter) {
            return std::nullopt;
        }
        startAlarm();
        ++s.notices;
        return Notice{NoticeType::Failure, detail};
    }
    if (!p.onChange) {
        ++s.notices;
        return Notice{NoticeType::Failure, detail};
    }
    if (p.remindEvery == 0) {
        return std::nullopt;
    }
    // On the wall clock's grid from the alarm: the first failed verdict at
    // or after the next slot carries the reminder.
    const std::int64_t interval = static_cast<std::int64_t>(p.remindEvery) * kMinute;
    const std::int64_t slot = (time - s.alarmedAt) / interval;
    if (slot <= s.remindSlot) {
        return std::nullopt;
    }
    s.remindSlot = slot;
    ++s.reminders;
    ++s.notices;
    return Notice{NoticeType::Reminder, "STILL FAILING since " + HourMinute(s.failingSince) +
                                            " (#" + std::to_string(s.reminders + 1) +
                                            "): " + detail};
}

void AlarmPolicy::reserve(std::size_t n) {
    app::ReserveFor(m_states, n);
}

void AlarmPolicy::rename(const std::string& oldKey, const std::string& newKey) {
    auto it = m_states.find(oldKey);
    if (it == m_states.end()) {
        return;
    }
    State s = std::move(it->second);
    m_states.erase(it);
    m_states[newKey] = std::move(s);
}

AlarmPolicy::View AlarmPolicy::view(const std::string& key) const {
    View v;
    const auto it = m_states.find(key);
    if (it == m_states.end()) {
        return v;
    }
    const State& s = it->second;
    v.failedInARow = s.failedInARow;
    v.alarmed = s.alarmedAt != 0;
    v.failingSince = s.failingSince;
    v.alarmedAt = s.alarmedAt;
    v.notices = s.notices;
    v.flapping = s.flapping;
    return v;
}

std::string AlarmPolicy::stateText(const std::string& key) const {
    const View v = view(key);
    if (v.flapping) {
        return "Flapping";
    }
    if (v.alarmed) {
        return "Alarmed since " + HourMinute(v.alarmedAt) + " \u00d7" + std::to_string(v.notices);
    }
    return {};
}

}  // namespace vantor::alarm
