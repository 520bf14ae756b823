// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/AtomicFile.h"

namespace vantor::registry {

// What the store knows of service.xml on disk: the version it last read or
// wrote, so that a version someone else wrote (an operator's editor) is
// seen, and told once to whoever takes it in. Any thread.
class ServiceFileWatch final {
public:
    explicit ServiceFileWatch(std::string path) : m_path(std::move(path)) {}

    // The version now on disk is ours (read or written just now).
    void remember(std::optional<app::FileStamp> stamp);
    std::optional<app::FileStamp> known() const;
    // Whether the file differs from the version we know. A file that is gone
    // (or cannot be reached) has no version to take in.
    bool changedByOthers() const;

    // Tells the handler of a change seen, once until forgetNotice().
    void setChangedHandler(std::function<void()> handler);
    void notice();
    void forgetNotice() { m_noticed = false; }

private:
    std::string m_path;
    mutable std::mutex m_mutex;
    std::optional<app::FileStamp> m_known;
    std::function<void()> m_changed;
    std::atomic<bool> m_noticed{false};
};

}  // namespace vantor::registry
