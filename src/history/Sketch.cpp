// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/Sketch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vantor::history {

namespace {

constexpr double kGamma = 1.08;
const double kLogGamma = std::log(kGamma);
// Far above any time limit: a bucket index past it is not a sketch of ours.
constexpr int kMaxBucket = 400;

int BucketOf(std::int64_t microseconds) {
    if (microseconds <= 1) {
        return 0;
    }
    const int b =
        static_cast<int>(std::ceil(std::log(static_cast<double>(microseconds)) / kLogGamma));
    return std::clamp(b, 0, kMaxBucket);
}

std::int64_t ValueOf(int bucket) {
    if (bucket == 0) {
        return 1;
    }
    // The middle of (gamma^(b-1), gamma^b], by relative distance.
    return std::llround(2.0 * std::pow(kGamma, bucket) / (kGamma + 1.0));
}

std::uint64_t Rank(double q, std::uint64_t n) {
    const auto rank = static_cast<std::uint64_t>(std::ceil(q * static_cast<double>(n)));
    return std::clamp<std::uint64_t>(rank, 1, n);
}

}  // namespace

void PutVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

std::optional<std::uint64_t> GetVarint(std::string_view in, std::size_t& pos) {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64 && pos < in.size(); shift += 7) {
        const auto byte = static_cast<unsigned char>(in[pos++]);
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

void Sketch::grow(std::size_t buckets) {
    if (m_counts.size() < buckets) {
        m_counts.resize(buckets, 0);
    }
}

void Sketch::add(std::int64_t microseconds, std::uint64_t count) {
    const auto b = static_cast<std::size_t>(BucketOf(microseconds));
    grow(b + 1);
    m_counts[b] += count;
    m_total += count;
}

void Sketch::merge(const Sketch& other) {
    grow(other.m_counts.size());
    for (std::size_t b = 0; b < other.m_counts.size(); ++b) {
        m_counts[b] += other.m_counts[b];
    }
    m_total += other.m_total;
}

std::optional<std::int64_t> Sketch::quantile(double q) const {
    if (m_total == 0) {
        return std::nullopt;
    }
    const std::uint64_t rank = Rank(q, m_total);
    std::uint64_t seen = 0;
    for (std::size_t b = 0; b < m_counts.size(); ++b) {
        seen += m_counts[b];
        if (seen >= rank) {
            return ValueOf(static_cast<int>(b));
        }
    }
    return ValueOf(static_cast<int>(m_counts.size()) - 1);
}

std::string Sketch::encode() const {
    std::string out;
    std::size_t previous = 0;
    for (std::size_t b = 0; b < m_counts.size(); ++b) {
        if (m_counts[b] == 0) {
            continue;
        }
        PutVarint(out, b - previous);
        PutVarint(out, m_counts[b]);
        previous = b;
    }
    return out;
}

std::optional<Sketch> Sketch::decode(std::string_view bytes) {
    Sketch s;
    std::size_t pos = 0;
    std::uint64_t bucket = 0;
    while (pos < bytes.size()) {
        const auto delta = GetVarint(bytes, pos);
        const auto count = delta ? GetVarint(bytes, pos) : std::nullopt;
        if (!count || *delta > kMaxBucket || bucket + *delta > kMaxBucket) {
            return std::nullopt;
        }
        bucket += *delta;
        s.grow(bucket + 1);
        s.m_counts[bucket] += *count;
        s.m_total += *count;
    }
    return s;
}

void Percentiles::add(std::int64_t microseconds) {
    if (m_folded) {
        m_sketch.add(microseconds);
    } else {
        m_exact.push_back(microseconds);
    }
}

void Percentiles::merge(const Sketch& sketch) {
    m_sketch.merge(sketch);
    m_folded = false;
}

std::optional<std::int64_t> Percentiles::quantile(double q) {
    if (m_sketch.empty()) {
        if (m_exact.empty()) {
            return std::nullopt;
        }
        const std::uint64_t rank = Rank(q, m_exact.size());
        auto nth = m_exact.begin() + static_cast<std::ptrdiff_t>(rank - 1);
        std::nth_element(m_exact.begin(), nth, m_exact.end());
        return *nth;
    }
    // Once any sketch is in, exact values join it in buckets: one order for
    // them all.
    if (!m_folded) {
        for (const std::int64_t v : m_exact) {
            m_sketch.add(v);
        }
        m_exact.clear();
        m_folded = true;
    }
    return m_sketch.quantile(q);
}

}  // namespace vantor::history
