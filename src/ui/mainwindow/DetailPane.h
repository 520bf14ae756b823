// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "history/HistoryTypes.h"

namespace vantor::ui {

// The selected service's history: its last 24 hours as a chart (one mark
// per check, its height the response time, red for a failure), a strip of
// its last 30 days' uptime, the checks passed, the response p50/p95/max and
// its last outages. The history is read on a thread of the pane's own and
// shown when it is there; the GUI thread never waits for the database.
class DetailPane final : public QWidget {
public:
    // databasePath: empty when the history is off.
    DetailPane(std::string databasePath, QWidget* parent);
    ~DetailPane() override;

    // The service to show; none clears the pane.
    void showService(std::optional<std::string> key);
    // Reads the shown service again (after its result came).
    void refresh();
    const std::optional<std::string>& key() const { return m_key; }
    // Whether what the pane shows is the answer to the last request.
    bool loaded() const { return m_loaded; }

    QSize sizeHint() const override { return {800, 230}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void request();
    void loaderLoop();
    void apply(std::uint64_t generation, history::ServiceDetail detail, std::int64_t now,
               std::string error);
    QRect chartRect() const;
    QRect stripRect() const;

    std::string m_path;
    std::optional<std::string> m_key;
    history::ServiceDetail m_detail;
    std::int64_t m_now = 0;
    std::string m_error;
    bool m_loaded = false;

    // The loader: the latest request only (key, generation).
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::string> m_wanted;
    std::uint64_t m_generation = 0;
    std::uint64_t m_served = 0;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace vantor::ui
