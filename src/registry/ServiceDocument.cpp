// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceDocument.h"

#include <algorithm>
#include <utility>

#include "app/Words.h"
#include "registry/ServiceElements.h"
#include "registry/ServiceXml.h"

namespace vantor::registry {

namespace {

const char* StatusElement() {
    return EntryOf(Element::ServiceStatus).name;
}

std::string_view StatusOf(const ServiceEntry& entry, int at) {
    return at >= 0 ? entry.text(entry.items[static_cast<std::size_t>(at)]) : std::string_view();
}

// Changes a record through its tree, which is read back from its body.
bool EditTree(ServiceEntry& entry, const std::function<void(pugi::xml_node)>& edit) {
    pugi::xml_document doc;
    const pugi::xml_node record = xml::TreeOf(entry, doc);
    if (!record) {
        return false;
    }
    edit(record);
    entry = xml::MakeEntry(record);
    return true;
}

// The record's result; false when it held this one already.
bool SetStatus(ServiceEntry& entry, std::string_view status) {
    // A record without one reads as an empty result.
    const int at = entry.child(0, StatusElement());
    if (StatusOf(entry, at) == status) {
        return false;
    }
    if (at >= 0 && ReplaceLeafText(entry, static_cast<std::size_t>(at), status)) {
        return true;
    }
    return EditTree(
        entry, [&](pugi::xml_node record) { xml::SetChildText(record, StatusElement(), status); });
}

bool IsRecord(const ServiceEntry& entry) {
    return entry.kind == ServiceEntry::Kind::Record;
}

}  // namespace

void ServiceDocument::open(Parsed parsed) {
    std::lock_guard lock(m_mutex);
    m_list = std::move(parsed);
    m_active = true;
    m_savedVersion = m_version;
    m_held.clear();
    m_holding = false;
    rebuildIndex();
}

void ServiceDocument::takeIn(Parsed parsed) {
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    // The results we hold go on for the records that are still there.
    for (ServiceEntry& theirs : parsed.entries) {
        if (!IsRecord(theirs)) {
            continue;
        }
        const ServiceEntry* ours = find(theirs.keyText());
        const int status = ours != nullptr ? ours->child(0, StatusElement()) : -1;
        if (status >= 0) {
            SetStatus(theirs, ours->text(ours->items[static_cast<std::size_t>(status)]));
        }
    }
    m_list = std::move(parsed);
    changed();  // the results carried over go to the file
    rebuildIndex();
}

void ServiceDocument::close() {
    std::lock_guard lock(m_mutex);
    m_list = ServiceList();
    m_index.clear();
    m_count = 0;
    ++m_edits;
    m_held.clear();
    m_holding = false;
    m_active = false;
}

void ServiceDocument::rebuildIndex() {
    ++m_edits;
    m_index.clear();
    m_count = 0;
    const std::vector<ServiceEntry>& entries = m_list.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (IsRecord(entries[i])) {
            m_index[std::string(entries[i].keyText())] = i;  // the last one wins
            ++m_count;
        }
    }
}

std::optional<std::size_t> ServiceDocument::indexOf(std::string_view key) const {
    const auto found = m_index.find(std::string(key));
    return found == m_index.end() ? std::nullopt : std::optional(found->second);
}

const ServiceEntry* ServiceDocument::find(std::string_view key) const {
    const std::optional<std::size_t> at = indexOf(key);
    return at ? &m_list.entries[*at] : nullptr;
}

ServiceEntry* ServiceDocument::findEntry(std::string_view key) {
    return const_cast<ServiceEntry*>(std::as_const(*this).find(key));
}

bool ServiceDocument::eraseEntry(std::string_view key) {
    const std::optional<std::size_t> at = indexOf(key);
    if (!at) {
        return false;
    }
    m_list.entries.erase(m_list.entries.begin() + static_cast<std::ptrdiff_t>(*at));
    changed();
    return true;
}

int ServiceDocument::position(std::string_view key) const {
    const std::optional<std::size_t> at = indexOf(key);
    if (!at) {
        return -1;
    }
    const auto begin = m_list.entries.begin();
    return static_cast<int>(
        std::count_if(begin, begin + static_cast<std::ptrdiff_t>(*at), IsRecord));
}

void ServiceDocument::insert(const ServiceFields& fields, bool withRequest, bool withExtras) {
    const std::string key = KeyOf(fields);
    pugi::xml_document doc;
    pugi::xml_node record = doc.append_child(kRecordElement);
    record.append_attribute(kKeyAttribute) = key.c_str();
    xml::WriteRecord(record, fields, words::kStart, true);
    if (withRequest) {
        xml::WriteUrlGroup(record, fields.request, true);
    }
    if (withExtras) {
        xml::WriteExtraFields(record, fields.extraFields);
    }
    ServiceEntry entry = xml::MakeEntry(record);
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    m_list.entries.push_back(std::move(entry));
    m_index[key] = m_list.entries.size() - 1;
    ++m_count;
    ++m_edits;
    changed();
}

void ServiceDocument::removeLast(std::string_view key) {
    std::lock_guard lock(m_mutex);
    eraseEntry(key);
    rebuildIndex();
}

std::optional<ServiceEntry> ServiceDocument::update(std::string_view oldKey,
                                                    const ServiceFields& fields, bool withRequest,
                                                    bool withExtras) {
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    ServiceEntry* entry = findEntry(oldKey);
    if (entry == nullptr) {
        return std::nullopt;
    }
    std::optional<ServiceEntry> before = *entry;
    const bool edited = EditTree(*entry, [&](pugi::xml_node record) {
        pugi::xml_attribute key = record.attribute(kKeyAttribute);
        if (!key) {
            key = record.append_attribute(kKeyAttribute);
        }
        key = KeyOf(fields).c_str();
        xml::WriteRecord(record, fields, fields.runState, false);
        if (withRequest) {
            xml::WriteUrlGroup(record, fields.request, false);
        }
        if (withExtras) {
            xml::WriteExtraFields(record, fields.extraFields);
        }
    });
    if (!edited) {
        return std::nullopt;
    }
    changed();
    rebuildIndex();  // the key may have changed
    return before;
}

void ServiceDocument::restore(const ServiceEntry& before, std::string_view newKey) {
    std::lock_guard lock(m_mutex);
    if (ServiceEntry* changedRecord = findEntry(newKey)) {
        *changedRecord = before;
        changed();
        rebuildIndex();
    }
}

bool ServiceDocument::remove(std::string_view key) {
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    if (!eraseEntry(key)) {
        return false;
    }
    rebuildIndex();
    return true;
}

bool ServiceDocument::change(std::string_view key,
                             const std::function<void(pugi::xml_node)>& edit) {
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    ServiceEntry* entry = findEntry(key);
    if (entry == nullptr || !EditTree(*entry, edit)) {
        return false;
    }
    ++m_edits;
    changed();
    return true;
}

bool ServiceDocument::setResult(std::string_view key, std::string_view status) {
    // Behind results already held back it waits its turn too, so that the
    // latest result of a key is the one that stays.
    if (m_held.empty()) {
        // Read without the lock: only this thread changes the document.
        const ServiceEntry* entry = find(key);
        if (entry == nullptr) {
            return false;
        }
        if (status == StatusOf(*entry, entry->child(0, StatusElement()))) {
            return false;  // nothing to store, nothing to write
        }
        std::unique_lock lock(m_mutex, std::try_to_lock);
        if (lock) {
            return setResultLocked(key, status);
        }
    }
    // The writer is serialising: the result waits for the owner's next turn.
    m_held.emplace_back(key, status);
    m_holding = true;
    return true;
}

bool ServiceDocument::setResultLocked(std::string_view key, std::string_view status) {
    ServiceEntry* entry = findEntry(key);
    if (entry == nullptr || !SetStatus(*entry, status)) {
        return false;
    }
    changed();
    return true;
}

bool ServiceDocument::applyHeld(bool wait) {
    if (m_held.empty()) {
        return true;
    }
    std::unique_lock lock(m_mutex, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return false;
    }
    applyHeldLocked();
    return true;
}

void ServiceDocument::applyHeldLocked() {
    for (const auto& [key, status] : m_held) {
        setResultLocked(key, status);
    }
    m_held.clear();
    m_holding = false;
}

std::optional<std::uint64_t> ServiceDocument::saveTo(int fd) const {
    std::lock_guard lock(m_mutex);
    if (!xml::Save(m_list, fd)) {
        return std::nullopt;
    }
    return m_version;
}

bool ServiceDocument::saved() const {
    std::lock_guard lock(m_mutex);
    return m_savedVersion == m_version && !m_holding;
}

void ServiceDocument::markSaved(std::uint64_t version) {
    std::lock_guard lock(m_mutex);
    m_savedVersion = std::max(m_savedVersion, version);
}

}  // namespace vantor::registry
