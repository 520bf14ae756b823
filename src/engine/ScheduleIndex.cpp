// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ScheduleIndex.h"

#include <algorithm>

#include "app/Words.h"
#include "engine/MonitorEngine.h"
#include "registry/ServiceStore.h"

namespace vantor::engine {

namespace {

using registry::Element;

// A two-digit text from "00" to the limit, as the clock's hour or minute
// is written; any other text never matches one.
std::optional<int> TwoDigitValue(std::string_view text, int limit) {
    if (text.size() != 2 || text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9') {
        return std::nullopt;
    }
    const int value = (text[0] - '0') * 10 + (text[1] - '0');
    return value <= limit ? std::optional<int>(value) : std::nullopt;
}

}  // namespace

void ScheduleIndex::rebuild(const registry::ServiceStore& store) {
    m_records.clear();
    for (auto& slot : m_daily) {
        slot.clear();
    }
    for (auto& slot : m_hourly) {
        slot.clear();
    }
    m_minutely.clear();
    m_unreadable.reset();
    m_walked = 0;
    static constexpr Element kFields[] = {Element::Status, Element::ScheduleBy,
                                          Element::ScheduleHour, Element::ScheduleMinute};
    auto keys = std::make_shared<std::vector<std::string>>();
    const auto add = [this, &keys](const registry::ServiceRecord& record) {
        m_records.push_back(record);
        keys->emplace_back(record.key());
        return static_cast<std::uint32_t>(m_records.size() - 1);
    };
    // A walk cut short leaves the count it was built for behind the store's:
    // the next tick walks again.
    store.forEachRecord([&](const registry::ServiceRecord& record) {
        if (m_unreadable) {
            return;  // the tick never gets past it
        }
        ++m_walked;
        try {
            std::optional<std::string_view> v[4];
            record.findAll(kFields, v, 4);
            for (int i = 0; i < 4; ++i) {
                if (!v[i]) {
                    throw MissingElement(record.key(), kFields[i]);
                }
                if (i == 0 && *v[0] != words::kStart) {
                    return;
                }
            }
            const std::string_view by = *v[1];
            if (by == words::kDaily) {
                const auto hour = TwoDigitValue(*v[2], 23);
                const auto minute = TwoDigitValue(*v[3], 59);
                if (hour && minute) {
                    m_daily[static_cast<std::size_t>(*hour * 60 + *minute)].push_back(add(record));
                }
            } else if (by == words::kHourly) {
                if (const auto minute = TwoDigitValue(*v[3], 59)) {
                    m_hourly[static_cast<std::size_t>(*minute)].push_back(add(record));
                }
            } else if (by == words::kMinutely) {
                const int period = ParseRecordInteger(*v[3]);
                if (period != 0) {
                    auto it = std::find_if(m_minutely.begin(), m_minutely.end(),
                                           [&](const auto& p) { return p.first == period; });
                    if (it == m_minutely.end()) {
                        it = m_minutely.insert(m_minutely.end(), {period, {}});
                    }
                    it->second.push_back(add(record));
                }
            }
        } catch (const RecordError& e) {
            m_unreadable = e.what();
        }
    });
    m_keys = std::move(keys);
    m_builtFor = store.editCount();
}

ScheduleIndex::Due ScheduleIndex::due(const registry::ServiceStore& store, int hour, int minute) {
    if (m_builtFor != store.editCount()) {
        rebuild(store);
    }
    std::vector<std::uint32_t> at;
    const auto take = [&at](const std::vector<std::uint32_t>& positions) {
        at.insert(at.end(), positions.begin(), positions.end());
    };
    if (hour >= 0 && hour < 24 && minute >= 0 && minute < 60) {
        take(m_daily[static_cast<std::size_t>(hour * 60 + minute)]);
        take(m_hourly[static_cast<std::size_t>(minute)]);
    }
    for (const auto& [period, positions] : m_minutely) {
        if (minute % period == 0) {
            take(positions);
        }
    }
    // Each record is in one list only; in document order again.
    std::sort(at.begin(), at.end());
    Due due;
    due.records.reserve(at.size());
    for (const std::uint32_t i : at) {
        due.records.push_back(m_records[i]);
    }
    due.positions = std::move(at);
    due.keys = m_keys;
    due.unreadable = m_unreadable;
    return due;
}

}  // namespace vantor::engine
