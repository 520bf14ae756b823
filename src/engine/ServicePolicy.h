// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "alarm/AlarmPolicy.h"

#include "registry/ServiceFields.h"

namespace vantor::registry {
class ServiceRecord;
}  // namespace vantor::registry

namespace vantor::engine {

// One service's alarm policy: the one for all, with what the service's own
// elements say instead.
struct ServicePolicy {
    alarm::PolicySettings policy;
    int slowAfterMs = 0;  // 0 = no limit
    int failAfterMs = 0;
    // Its own maintenance windows, besides the ones for all.
    std::string maintenance;
};

// `base` is the policy for all and `limits` the response-time limits of
// the service's kind (slow, fail). A value of its own that cannot be read
// is left out: the editors refuse it (CheckOwnPolicy), a hand-edited file
// may still hold one.
ServicePolicy PolicyOf(const registry::ServiceRecord& record, const alarm::PolicySettings& base,
                       std::pair<int, int> limits);

// Whether the record has a value of its own that changes what the policy
// counts (anything but the response-time limits and maintenance).
bool CountsOwnVerdicts(const registry::ServiceRecord& record);

// The first value of its own that is not one, and what the editors say of
// it; none when every one is fine or left empty.
struct OwnPolicyProblem {
    registry::Element element;
    std::string text;
};
std::optional<OwnPolicyProblem> CheckOwnPolicy(const registry::ServiceFields& fields);

}  // namespace vantor::engine
