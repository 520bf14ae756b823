// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Inside registry/ only: it shows pugixml.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/Result.h"
#include "registry/ServiceEntry.h"
#include "registry/ServiceFields.h"

namespace vantor::registry {

// service.xml as a list of compact entries with an index of its keys, and
// the changes a record can take. Only the owner thread changes it, holding the lock; the
// writer thread holds the same lock while it serialises the document; the
// owner reads without it. A check's result never waits for the writer: one
// that comes while the writer holds the document, or while results are held
// back already, is held back and applied at the owner's next turn (see
// applyHeld), and always before any other change, so the file never gets an
// edit before an older result.
class ServiceDocument final {
public:
    // A file as read from disk, not yet in use.
    using Parsed = ServiceList;

    bool active() const { return m_active; }
    // Puts a read file in place of what is held: as the file says (open), or
    // carrying the results held over to the records still there (an
    // operator's version taken in), which then still have to be written.
    void open(Parsed parsed);
    void takeIn(Parsed parsed);
    void close();

    // Reading; owner thread. The children of serviceList in document order.
    const std::vector<ServiceEntry>& entries() const { return m_list.entries; }
    // The last record with this key, or null.
    const ServiceEntry* find(std::string_view key) const;
    // Its position among the records, or -1.
    int position(std::string_view key) const;

    // Changes by the operator; owner thread. Each waits for a serialisation
    // under way and applies the results held back first.
    void insert(const ServiceFields& fields, bool withRequest, bool withExtras);
    // Takes an insert back (its save failed).
    void removeLast(std::string_view key);
    // The record as it was, for restore(); nullopt when the key is not there.
    std::optional<ServiceEntry> update(std::string_view oldKey, const ServiceFields& fields,
                                       bool withRequest, bool withExtras);
    // Puts back what update() changed.
    void restore(const ServiceEntry& before, std::string_view newKey);
    bool remove(std::string_view key);
    // Changes one record in place, through its tree; false when the key is
    // not there.
    bool change(std::string_view key, const std::function<void(pugi::xml_node)>& edit);

    // A check's result; owner thread, never waits. A result equal to the
    // one the record holds changes nothing. True when the document changed
    // or the result is held back for it.
    bool setResult(std::string_view key, std::string_view status);
    // The records in the document; owner thread.
    std::size_t count() const { return m_count; }
    // Counts the changes to the records other than their results (edits,
    // run states, a file opened, taken in or closed): a record read before
    // is still where it was, unchanged but for its result, while this stays
    // the same. Owner thread.
    std::uint64_t edits() const { return m_edits; }
    // Applies the results held back. wait: also while the writer serialises
    // (then it waits for it); otherwise only when the document is free.
    // True when none is held any more.
    bool applyHeld(bool wait);
    // Whether results are held back; any thread.
    bool holdsResults() const { return m_holding.load(); }

    // Any thread (the writer): writes the document to fd, holding the
    // lock meanwhile; the change it is up to, or nullopt with errno set
    // when a write failed.
    std::optional<std::uint64_t> saveTo(int fd) const;
    // Whether the file has every change up to now.
    bool saved() const;
    void markSaved(std::uint64_t version);

private:
    void rebuildIndex();
    std::optional<std::size_t> indexOf(std::string_view key) const;
    ServiceEntry* findEntry(std::string_view key);
    // Takes the record out (the index is then to be rebuilt); false when the
    // key is not there.
    bool eraseEntry(std::string_view key);
    bool setResultLocked(std::string_view key, std::string_view status);
    void applyHeldLocked();
    // Counts a change; under the lock.
    void changed() { ++m_version; }

    mutable std::mutex m_mutex;
    ServiceList m_list;
    bool m_active = false;
    // The entry of the last record of each key, and how many records there
    // are.
    std::unordered_map<std::string, std::size_t> m_index;
    std::size_t m_count = 0;
    std::uint64_t m_edits = 0;
    // Changes made, and the change the file holds; under m_mutex.
    std::uint64_t m_version = 0;
    std::uint64_t m_savedVersion = 0;
    // Owner thread only: results that came while the writer held the lock,
    // by key, the latest of each.
    std::vector<std::pair<std::string, std::string>> m_held;
    std::atomic<bool> m_holding{false};
};

}  // namespace vantor::registry
