// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace vantor::app {

// What a view of a list model is told, in pairs around each structural
// change, so that a view that keeps per-row state (a Qt item model) can
// follow: it is told before rows come or go, while the old rows are still
// there, and after. Rows are indices in the model's own order.
class ListObserver {
public:
    virtual ~ListObserver() = default;
    virtual void aboutToInsertRows(std::size_t /*first*/, std::size_t /*last*/) {}
    virtual void rowsInserted() {}
    virtual void aboutToRemoveRows(std::size_t /*first*/, std::size_t /*last*/) {}
    virtual void rowsRemoved() {}
    virtual void aboutToReset() {}
    virtual void reset() {}
    virtual void rowChanged(std::size_t /*row*/) {}
    virtual void currentRowChanged(std::optional<std::size_t> /*row*/) {}
};

// The observers of one model, told in the order they were added. An
// observer removes itself before it goes away.
class ListObservers final {
public:
    void add(ListObserver* observer) { m_observers.push_back(observer); }
    void remove(ListObserver* observer) {
        m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                          m_observers.end());
    }
    void notify(const std::function<void(ListObserver&)>& tell) const {
        // A copy: an observer may remove itself while it is told.
        const std::vector<ListObserver*> observers = m_observers;
        for (ListObserver* observer : observers) {
            tell(*observer);
        }
    }

private:
    std::vector<ListObserver*> m_observers;
};

}  // namespace vantor::app
