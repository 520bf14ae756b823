// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ServicePolicy.h"

#include <charconv>
#include <optional>

#include "alarm/MaintenanceWindow.h"
#include "registry/ServiceFields.h"
#include "registry/ServiceRecord.h"

namespace vantor::engine {

namespace {

using registry::Element;

constexpr Element kOwn[] = {Element::AlarmOn,      Element::FailAfter,   Element::Recovery,
                            Element::RecoverAfter, Element::RemindEvery, Element::FlapDetect,
                            Element::SlowAfterMs,  Element::FailAfterMs, Element::Maintenance};
constexpr std::size_t kOwnCount = std::size(kOwn);

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

std::optional<int> Whole(std::string_view text) {
    text = Trimmed(text);
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<bool> YesNo(std::string_view text) {
    text = Trimmed(text);
    if (text == "y") {
        return true;
    }
    if (text == "n") {
        return false;
    }
    return std::nullopt;
}

// The values the policy reads, each checked as the editors check it.
struct Own {
    std::optional<bool> onChange;
    std::optional<int> failAfter;
    std::optional<bool> recovery;
    std::optional<int> recoverAfter;
    std::optional<int> remindEvery;
    std::optional<bool> flapDetect;
    std::optional<int> slowAfterMs;
    std::optional<int> failAfterMs;
    std::optional<std::string> maintenance;  // given and understood
    std::optional<OwnPolicyProblem> problem;
};

Own Read(const std::optional<std::string_view> (&v)[kOwnCount]) {
    Own own;
    std::size_t at = 0;  // the value looked at
    const auto refuse = [&own, &at](std::string text) {
        if (!own.problem) {
            own.problem = OwnPolicyProblem{kOwn[at], std::move(text)};
        }
    };
    const auto given = [&v, &at](std::size_t i) {
        at = i;
        return v[i] && !Trimmed(*v[i]).empty();
    };
    if (given(0)) {
        const std::string_view on = Trimmed(*v[0]);
        if (on == "OnChange" || on == "EveryFailure") {
            own.onChange = on == "OnChange";
        } else {
            refuse("Alarm on must be EveryFailure or OnChange.");
        }
    }
    // A whole number of at least `least`; `rule` says so after the name.
    const auto whole = [&](std::size_t i, std::optional<int>& out, const char* name, int least,
                           const char* rule) {
        if (given(i)) {
            out = Whole(*v[i]);
            if (!out || *out < least) {
                out.reset();
                refuse(std::string(name) + rule);
            }
        }
    };
    constexpr const char* kAtLeastOne = " must be a whole number of 1 or more.";
    constexpr const char* kMs = " must be a whole number of ms, 0 or more.";
    const auto yesNo = [&](std::size_t i, std::optional<bool>& out, const char* name) {
        if (given(i)) {
            out = YesNo(*v[i]);
            if (!out) {
                refuse(std::string(name) + " must be y or n.");
            }
        }
    };
    whole(1, own.failAfter, "Failed checks before the alarm", 1, kAtLeastOne);
    yesNo(2, own.recovery, "Recovery");
    whole(3, own.recoverAfter, "Passed checks that end an outage", 1, kAtLeastOne);
    if (given(4)) {
        own.remindEvery = Whole(*v[4]);
        if (!own.remindEvery || *own.remindEvery < 0 ||
            (*own.remindEvery > 0 && *own.remindEvery < 5)) {
            own.remindEvery.reset();
            refuse("Remind every must be 0 or at least 5 minutes.");
        }
    }
    yesNo(5, own.flapDetect, "Flap detection");
    whole(6, own.slowAfterMs, "Slow after", 0, kMs);
    whole(7, own.failAfterMs, "Fail after", 0, kMs);
    if (given(8)) {
        if (std::string error = alarm::ParseMaintenance(*v[8]).error; !error.empty()) {
            refuse(std::move(error));
        } else {
            own.maintenance = std::string(Trimmed(*v[8]));
        }
    }
    return own;
}

}  // namespace

ServicePolicy PolicyOf(const registry::ServiceRecord& record, const alarm::PolicySettings& base,
                       std::pair<int, int> limits) {
    std::optional<std::string_view> v[kOwnCount];
    record.findAll(kOwn, v, kOwnCount);
    ServicePolicy p;
    p.policy = base;
    p.slowAfterMs = limits.first;
    p.failAfterMs = limits.second;
    bool any = false;
    for (const auto& value : v) {
        any = any || value.has_value();
    }
    if (!any) {
        return p;  // the common case: nothing of its own
    }
    const Own own = Read(v);
    p.policy.onChange = own.onChange.value_or(p.policy.onChange);
    p.policy.failAfter = own.failAfter.value_or(p.policy.failAfter);
    p.policy.recovery = own.recovery.value_or(p.policy.recovery);
    p.policy.recoverAfter = own.recoverAfter.value_or(p.policy.recoverAfter);
    p.policy.remindEvery = own.remindEvery.value_or(p.policy.remindEvery);
    p.policy.flapDetect = own.flapDetect.value_or(p.policy.flapDetect);
    p.slowAfterMs = own.slowAfterMs.value_or(p.slowAfterMs);
    p.failAfterMs = own.failAfterMs.value_or(p.failAfterMs);
    p.maintenance = own.maintenance.value_or(std::string());
    return p;
}

bool CountsOwnVerdicts(const registry::ServiceRecord& record) {
    std::optional<std::string_view> v[kOwnCount];
    record.findAll(kOwn, v, kOwnCount);
    for (std::size_t i = 0; i < 6; ++i) {
        if (v[i] && !Trimmed(*v[i]).empty()) {
            return true;
        }
    }
    return false;
}

std::optional<OwnPolicyProblem> CheckOwnPolicy(const registry::ServiceFields& f) {
    const std::optional<std::string_view> v[kOwnCount] = {
        f.alarmOn,    f.failAfter,   f.recovery,    f.recoverAfter, f.remindEvery,
        f.flapDetect, f.slowAfterMs, f.failAfterMs, f.maintenance};
    return Read(v).problem;
}

}  // namespace vantor::engine
