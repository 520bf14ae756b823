// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceFileWatch.h"

namespace vantor::registry {

void ServiceFileWatch::remember(std::optional<app::FileStamp> stamp) {
    std::lock_guard lock(m_mutex);
    m_known = stamp;
}

std::optional<app::FileStamp> ServiceFileWatch::known() const {
    std::lock_guard lock(m_mutex);
    return m_known;
}

bool ServiceFileWatch::changedByOthers() const {
    std::optional<app::FileStamp> known;
    {
        std::lock_guard lock(m_mutex);
        known = m_known;
    }
    const auto now = app::StampOf(m_path);
    return known && now && *now != *known;
}

void ServiceFileWatch::setChangedHandler(std::function<void()> handler) {
    std::lock_guard lock(m_mutex);
    m_changed = std::move(handler);
}

void ServiceFileWatch::notice() {
    if (m_noticed.exchange(true)) {
        return;
    }
    std::function<void()> handler;
    {
        std::lock_guard lock(m_mutex);
        handler = m_changed;
    }
    if (handler) {
        handler();
    }
}

}  // namespace vantor::registry
