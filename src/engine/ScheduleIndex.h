// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "registry/ServiceRecord.h"

namespace vantor::registry {
class ServiceStore;
}

namespace vantor::engine {

// The started records by the minutes they fall due in, so that a tick reads
// the records of its minute and not the whole list. Read in one walk of the
// records in document order, and read again once the store's records have
// changed (an edit, a Start or Stop, a file opened or taken in), never for
// a check's result. Like the tick, the walk ends at the first record whose
// schedule cannot be read: that record ends every tick until it is mended.
// Owner thread.
class ScheduleIndex final {
public:
    // The keys of the records of one walk, by position: they outlive the
    // walk's records for as long as someone holds them.
    using Keys = std::shared_ptr<const std::vector<std::string>>;
    struct Due {
        // In document order.
        std::vector<registry::ServiceRecord> records;
        // Each record's position in keys.
        std::vector<std::uint32_t> positions;
        Keys keys;
        // The error of the record that ends the tick after them.
        std::optional<std::string> unreadable;
    };
    // The records due at the hour and minute (local time).
    Due due(const registry::ServiceStore& store, int hour, int minute);
    // Records read in the last walk (for the benchmarks).
    std::size_t walked() const { return m_walked; }

private:
    void rebuild(const registry::ServiceStore& store);

    std::optional<std::uint64_t> m_builtFor;  // the store's edit count
    std::size_t m_walked = 0;
    // The started records that can fall due, in document order; the lists
    // below hold their positions in it, ascending.
    std::vector<registry::ServiceRecord> m_records;
    Keys m_keys;
    std::array<std::vector<std::uint32_t>, 24 * 60> m_daily;             // by minute of the day
    std::array<std::vector<std::uint32_t>, 60> m_hourly;                 // by minute of the hour
    std::vector<std::pair<int, std::vector<std::uint32_t>>> m_minutely;  // by period
    std::optional<std::string> m_unreadable;
};

}  // namespace vantor::engine
