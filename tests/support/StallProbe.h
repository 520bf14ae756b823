// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How long the GUI thread's event loop was kept from its work: a precise
// timer runs on it, and every gap between two of its ticks beyond the
// interval is a stall. For the window tests and bench_ui.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

#include "support/CpuTime.h"

namespace vantor::test {

class StallProbe {
public:
    explicit StallProbe(int intervalMs = 5) : m_intervalMs(intervalMs) {
        m_timer.setInterval(intervalMs);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
    }

    void start() {
        m_clock.start();
        m_last = m_clock.nsecsElapsed();
        m_lastCpu = ThreadCpuMs();
        m_lastUser = ThreadUserMs();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    // Forgets the gaps so far (a known long step, say) and goes on measuring.
    void restart() {
        m_gaps.clear();
        m_longestCpuMs = 0;
        m_longestUserMs = 0;
        m_last = m_clock.nsecsElapsed();
        m_lastCpu = ThreadCpuMs();
        m_lastUser = ThreadUserMs();
    }

    // Runs the event loop until `done` or the timeout; false on the timeout.
    bool runUntil(const std::function<bool()>& done, int timeoutMs) {
        QElapsedTimer limit;
        limit.start();
        while (!done()) {
            if (limit.elapsed() > timeoutMs) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, m_intervalMs);
        }
        return true;
    }

    // Runs the event loop for a while, so that a stall just ended is counted.
    void settle() {
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 3 * m_intervalMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, m_intervalMs);
        }
    }

    std::size_t samples() const { return m_gaps.size(); }
    // The GUI thread's CPU time in the longest gap: near the gap, work on
    // the thread (the program's, or the kernel's on its behalf); far below
    // it, the thread waited for a CPU.
    double longestGapCpuMs() const { return m_longestCpuMs; }
    // Of it, the time in the program's own code (the rest was the kernel's).
    double longestGapUserMs() const { return m_longestUserMs; }
    double maxMs() const {
        return m_gaps.empty() ? 0 : *std::max_element(m_gaps.begin(), m_gaps.end());
    }
    // The gap that this share of the ticks (0.5, 0.99) did not exceed.
    double percentileMs(double share) const {
        if (m_gaps.empty()) {
            return 0;
        }
        std::vector<double> sorted = m_gaps;
        std::sort(sorted.begin(), sorted.end());
        const auto at = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1));
        return sorted[at];
    }

private:
    void tick() {
        const qint64 now = m_clock.nsecsElapsed();
        const double cpu = ThreadCpuMs();
        const double user = ThreadUserMs();
        const double gap = std::max(0.0, static_cast<double>(now - m_last) / 1e6 - m_intervalMs);
        if (m_gaps.empty() || gap > maxMs()) {
            m_longestCpuMs = cpu - m_lastCpu;
            m_longestUserMs = user - m_lastUser;
        }
        m_gaps.push_back(gap);
        m_last = now;
        m_lastCpu = cpu;
        m_lastUser = user;
    }

    int m_intervalMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_lastCpu = 0;
    double m_longestCpuMs = 0;
    double m_lastUser = 0;
    double m_longestUserMs = 0;
    std::vector<double> m_gaps;
};

// A stall bound as a test states it; the sanitizer builds run several times
// slower and get room for it.
inline double StallBudgetMs(double ms) {
#ifdef VANTOR_SANITIZED
    return ms * 4;
#else
    return ms;
#endif
}

}  // namespace vantor::test
