// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::history {

// Unsigned LEB128, the packing of every number in the rollups' blobs.
void PutVarint(std::string& out, std::uint64_t value);
// Reads one number at pos and moves pos past it; nullopt for a number cut
// short.
std::optional<std::uint64_t> GetVarint(std::string_view in, std::size_t& pos);

// Response times of many checks in logarithmic buckets: each bucket is 8 %
// wider than the one below it, and a quantile read from them is within
// 3.9 % of the true one. Small (a few dozen bytes for a day of checks) and
// mergeable, so that a day is the sum of its checks and a month the sum of
// its days.
class Sketch final {
public:
    void add(std::int64_t microseconds, std::uint64_t count = 1);
    void merge(const Sketch& other);
    bool empty() const { return m_total == 0; }
    std::uint64_t total() const { return m_total; }
    // The nearest-rank quantile (q in 0..1) as its bucket's middle value.
    std::optional<std::int64_t> quantile(double q) const;

    std::string encode() const;
    // nullopt for bytes that are not a sketch.
    static std::optional<Sketch> decode(std::string_view bytes);

private:
    void grow(std::size_t buckets);
    // Counts by bucket index, as far as the highest bucket used.
    std::vector<std::uint64_t> m_counts;
    std::uint64_t m_total = 0;
};

// The p50 and p95 of response times gathered from raw rows (exact) and from
// sketches (within the sketch's accuracy once any is merged).
class Percentiles final {
public:
    void add(std::int64_t microseconds);
    void merge(const Sketch& sketch);
    bool empty() const { return m_exact.empty() && m_sketch.empty(); }
    std::optional<std::int64_t> quantile(double q);

private:
    std::vector<std::int64_t> m_exact;
    Sketch m_sketch;
    // Once exact values and sketches meet, the exact ones are bucketed once.
    bool m_folded = false;
};

}  // namespace vantor::history
