#include "registry/ServiceDocument.h"

#include <algorithm>

#include "app/Words.h"
#include "registry/ServiceElements.h"
#include "registry/ServiceXml.h"

namespace vantor::registry {

namespace {

const char* StatusElement() {
    return EntryOf(Element::ServiceStatus).name;
}

}  // namespace

void ServiceDocument::open(Parsed parsed) {
    std::lock_guard lock(m_mutex);
    m_doc = std::move(parsed.doc);
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
    for (pugi::xml_node rec = parsed.doc.child("serviceList").first_child(); rec;
         rec = rec.next_sibling()) {
        if (rec.type() != pugi::node_element) {
            continue;
        }
        const pugi::xml_node ours = find(rec.attribute(kKeyAttribute).value());
        if (ours && ours.child(StatusElement())) {
            xml::SetChildText(rec, StatusElement(), ours.child_value(StatusElement()));
        }
    }
    m_doc = std::move(parsed.doc);
    changed();  // the results carried over go to the file
    rebuildIndex();
}

void ServiceDocument::close() {
    std::lock_guard lock(m_mutex);
    m_doc.reset();
    m_index.clear();
    m_count = 0;
    ++m_edits;
    m_held.clear();
    m_holding = false;
    m_active = false;
}

pugi::xml_node ServiceDocument::list() const {
    return m_active ? m_doc.child("serviceList") : pugi::xml_node();
}

void ServiceDocument::rebuildIndex() {
    ++m_edits;
    m_index.clear();
    m_count = 0;
    for (pugi::xml_node rec = list().first_child(); rec; rec = rec.next_sibling()) {
        if (rec.type() == pugi::node_element) {
            m_index[rec.attribute(kKeyAttribute).value()] = rec;  // the last one wins
            ++m_count;
        }
    }
}

pugi::xml_node ServiceDocument::find(std::string_view key) const {
    const auto found = m_index.find(std::string(key));
    return found == m_index.end() ? pugi::xml_node() : found->second;
}

int ServiceDocument::position(std::string_view key) const {
    int found = -1;
    int index = 0;
    for (pugi::xml_node child = list().first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (key == child.attribute(kKeyAttribute).value()) {
            found = index;
        }
        ++index;
    }
    return found;
}

void ServiceDocument::insert(const ServiceFields& fields, bool withRequest, bool withExtras) {
    const std::string key = KeyOf(fields);
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    pugi::xml_node record = list().append_child(kRecordElement);
    record.append_attribute(kKeyAttribute) = key.c_str();
    xml::WriteRecord(record, fields, words::kStart, true);
    if (withRequest) {
        xml::WriteUrlGroup(record, fields.request, true);
    }
    if (withExtras) {
        xml::WriteExtraFields(record, fields.extraFields);
    }
    m_index[key] = record;
    ++m_count;
    ++m_edits;
    changed();
}

void ServiceDocument::removeLast(std::string_view key) {
    std::lock_guard lock(m_mutex);
    if (pugi::xml_node added = find(key)) {
        list().remove_child(added);
        changed();
    }
    rebuildIndex();
}

pugi::xml_document ServiceDocument::update(std::string_view oldKey, const ServiceFields& fields,
                                           bool withRequest, bool withExtras) {
    pugi::xml_document before;
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    pugi::xml_node record = find(oldKey);
    if (!record) {
        return before;
    }
    before.append_copy(record);
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
    changed();
    rebuildIndex();  // the key may have changed
    return before;
}

void ServiceDocument::restore(const pugi::xml_document& before, std::string_view newKey) {
    std::lock_guard lock(m_mutex);
    if (pugi::xml_node changedRecord = find(newKey); changedRecord && before.first_child()) {
        list().insert_copy_before(before.first_child(), changedRecord);
        list().remove_child(changedRecord);
        changed();
        rebuildIndex();
    }
}

bool ServiceDocument::remove(std::string_view key) {
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    pugi::xml_node record = find(key);
    if (!record) {
        return false;
    }
    list().remove_child(record);
    changed();
    rebuildIndex();
    return true;
}

bool ServiceDocument::change(std::string_view key,
                             const std::function<void(pugi::xml_node)>& edit) {
    std::lock_guard lock(m_mutex);
    applyHeldLocked();
    pugi::xml_node record = find(key);
    if (!record) {
        return false;
    }
    edit(record);
    ++m_edits;
    changed();
    return true;
}

bool ServiceDocument::setResult(std::string_view key, std::string_view status) {
    // Behind results already held back it waits its turn too, so that the
    // latest result of a key is the one that stays.
    if (m_held.empty()) {
        // Read without the lock: only this thread changes the document.
        const pugi::xml_node record = find(key);
        if (!record || status == record.child(StatusElement()).child_value()) {
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
    pugi::xml_node record = find(key);
    if (!record || status == record.child(StatusElement()).child_value()) {
        return false;
    }
    xml::SetChildText(record, StatusElement(), status);
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
    if (!xml::Save(m_doc, fd)) {
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
