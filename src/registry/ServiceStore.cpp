// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "app/AtomicFile.h"
#include "app/Poster.h"
#include "registry/ServiceDocument.h"
#include "registry/ServiceElements.h"
#include "registry/ServiceXml.h"

namespace vantor::registry {

namespace {

// Reads and parses the file; the stamp is taken first, so that a write that
// comes while we read shows as a change.
Status ParseFile(const std::string& path, ServiceDocument::Parsed& parsed,
                 std::optional<app::FileStamp>& stamp) {
    stamp = app::StampOf(path);
    Expected<std::string> data = app::ReadWholeFile(path);
    if (!data) {
        return Error{data.error()};
    }
    return xml::Parse(std::move(data).value(), path, parsed);
}

// An edit whose text an XML 1.0 file cannot hold is refused whole: a file
// that others cannot read is never written.
Status RefuseWhatXmlCannotHold(std::string_view name, std::string_view text) {
    if (const auto why = xml::WhyNotXmlText(text)) {
        return Error{std::string(name) + " holds " + *why + ", which service.xml cannot hold"};
    }
    return {};
}

Status RefuseWhatXmlCannotHold(const ServiceFields& f, bool withRequest, bool withExtras) {
    for (const ElementEntry& entry : Elements()) {
        if (entry.group == ElementGroup::UrlRequest && !withRequest) {
            continue;
        }
        if (Status ok = RefuseWhatXmlCannotHold(entry.name, FieldOf(f, entry.element)); !ok) {
            return ok;
        }
    }
    if (withExtras) {
        for (const ExtraField& extra : f.extraFields) {
            for (const std::string& text : {extra.name, extra.value}) {
                if (Status ok = RefuseWhatXmlCannotHold(kExtraFieldElement, text); !ok) {
                    return ok;
                }
            }
        }
    }
    return {};
}

ServiceFields WithRequest(ServiceFields fields, const UrlRequestFields& request,
                          const std::vector<ExtraField>* extraFields) {
    fields.request = request;
    if (extraFields != nullptr) {
        fields.extraFields = *extraFields;
    }
    return fields;
}

}  // namespace

ServiceStore::ServiceStore(std::string filePath)
    : m_filePath(std::move(filePath)),
      m_doc(std::make_unique<ServiceDocument>()),
      m_watch(m_filePath),
      m_alive(std::make_shared<ServiceStore*>(this)) {}

ServiceStore::~ServiceStore() {
    m_writer.stop();
    *m_alive = nullptr;
}

bool ServiceStore::isActive() const {
    return m_doc->active();
}

bool ServiceStore::ServiceFileExists() const {
    // A link that points nowhere exists too: it is an error to open, never a
    // place to make an empty list.
    struct stat st {};
    return ::lstat(m_filePath.c_str(), &st) == 0;
}

Status ServiceStore::OpenServiceFile(bool active) {
    if (!active) {
        m_writer.stop();
        Status status;
        if (m_doc->active()) {
            status = save();
        }
        m_doc->close();
        return status;
    }
    ServiceDocument::Parsed parsed;
    std::optional<app::FileStamp> stamp;
    if (Status read = ParseFile(m_filePath, parsed, stamp); !read) {
        return read;
    }
    m_writer.stop();
    m_watch.remember(stamp);
    m_watch.forgetNotice();
    m_doc->open(std::move(parsed));
    followSize();
    startWriter();
    return {};
}

Status ServiceStore::CreateServiceFile() {
    m_writer.stop();
    m_doc->close();
    std::lock_guard file(m_fileMutex);
    return app::WriteFileAtomically(m_filePath, kTemplate);
}

void ServiceStore::setWriteFailedHandler(WriteFailedHandler handler) {
    m_writer.setFailedHandler(std::move(handler));
}

void ServiceStore::setResultWriteInterval(std::chrono::milliseconds interval) {
    m_baseInterval = interval;
    followSize();
}

std::chrono::milliseconds ServiceStore::resultWriteInterval() const {
    return m_baseInterval * std::max<std::size_t>(1, m_doc->count() / kRecordsPerInterval);
}

void ServiceStore::followSize() {
    m_writer.setInterval(resultWriteInterval());
}

void ServiceStore::startWriter() {
    m_writer.start([this] { return write(false); });
}

int ServiceStore::FindService(std::string_view key) const {
    return m_doc->position(key);
}

Status ServiceStore::save() {
    if (!m_doc->active()) {
        return Error{"the service list is not open"};
    }
    // Someone else wrote the file: theirs is taken in before anything of
    // ours is written, also when it turns up while ours is written.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        m_doc->applyHeld(true);
        if (m_doc->saved()) {
            return {};  // nothing of ours to write
        }
        if (Status taken = takeChangesFirst(); !taken) {
            return taken;
        }
        const Expected<bool> written = write(true);
        if (!written) {
            return Error{written.error()};
        }
        if (*written) {
            return {};
        }
    }
    return Error{kKeepsChanging};
}

Status ServiceStore::applyAndSave(const std::function<bool()>& edit,
                                  const std::function<void()>& undo) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        m_doc->applyHeld(true);
        // An edit applies to the file as the operator left it.
        if (Status taken = takeChangesFirst(); !taken) {
            return taken;
        }
        if (!edit()) {
            return {};  // nothing to change
        }
        const Expected<bool> written = write(true);
        if (!written) {
            if (undo) {
                undo();
            }
            return Error{written.error()};
        }
        if (*written) {
            return {};
        }
        // Theirs came while ours was written: the next round takes it in and
        // makes the edit again on it.
    }
    return Error{kKeepsChanging};
}

Expected<bool> ServiceStore::write(bool onOwner) {
    std::lock_guard file(m_fileMutex);
    // The writer leaves a version of someone else's to the owner to take in.
    if (!onOwner && m_watch.changedByOthers()) {
        if (!onOwner) {
            m_watch.notice();
        }
        return false;
    }
    if (m_doc->saved()) {
        return true;  // the file has it already
    }
    std::uint64_t version = 0;
    const auto save = [&](int fd) {
        const std::optional<std::uint64_t> saved = m_doc->saveTo(fd);
        // Results that came while the document was written wait no longer
        // than that (the flush to disk comes after).
        if (!onOwner && m_doc->holdsResults()) {
            const int err = errno;
            askOwnerToApplyHeld();
            errno = err;
        }
        version = saved.value_or(0);
        return saved.has_value();
    };
    const Expected<std::optional<app::FileStamp>> replaced =
        app::ReplaceKnownFile(m_filePath, save, m_watch.known());
    if (!replaced) {
        return Error{replaced.error()};
    }
    if (!replaced->has_value()) {
        // Someone wrote the file while ours was written: theirs stays, to be
        // taken in first.
        if (!onOwner) {
            m_watch.notice();
        }
        return false;
    }
    // Ours, not whatever stands there now: a version that came since is not
    // taken for ours.
    m_watch.remember(*replaced);
    m_doc->markSaved(version);
    return true;
}

void ServiceStore::askOwnerToApplyHeld() {
    if (m_owner == nullptr) {
        return;  // the next change on the owner thread applies them
    }
    m_owner->post([alive = std::weak_ptr<ServiceStore*>(m_alive)] {
        if (const auto self = alive.lock(); self && *self != nullptr) {
            (*self)->applyHeldResults();
        }
    });
}

void ServiceStore::applyHeldResults() {
    // Still busy: the writer asks again when its serialisation is over.
    if (m_doc->holdsResults() && m_doc->applyHeld(false)) {
        m_writer.wake();
    }
}

void ServiceStore::settle() const {
    m_doc->applyHeld(true);
}

Status ServiceStore::takeOperatorsVersion() {
    ServiceDocument::Parsed parsed;
    std::optional<app::FileStamp> stamp;
    if (Status read = ParseFile(m_filePath, parsed, stamp); !read) {
        return read;  // ours stays, and is not written over theirs
    }
    {
        std::lock_guard file(m_fileMutex);
        m_watch.remember(stamp);
    }
    m_doc->takeIn(std::move(parsed));
    followSize();
    m_watch.forgetNotice();
    if (onReloaded) {
        onReloaded();
    }
    return {};
}

Status ServiceStore::takeChangesFirst() {
    return m_watch.changedByOthers() ? takeOperatorsVersion() : Status{};
}

Status ServiceStore::TakeChangesOnDisk() {
    if (!m_doc->active()) {
        return {};
    }
    // The writer may tell of a change again after this look.
    m_watch.forgetNotice();
    // A version that could not be read is read again when it changes, and
    // its failure told once.
    const std::optional<app::FileStamp> now = app::StampOf(m_filePath);
    if (m_unreadable && now == m_unreadable) {
        return {};
    }
    Status saved = takeChangesFirst();
    if (saved) {
        m_unreadable.reset();
        saved = save();
    } else {
        m_unreadable = now;
    }
    return saved;
}

Status ServiceStore::reloadNow() {
    if (!m_doc->active()) {
        return Error{"the service list is not open"};
    }
    if (Status taken = takeOperatorsVersion(); !taken) {
        return taken;
    }
    return save();
}

Status ServiceStore::flush() {
    return save();
}

Status ServiceStore::requireActive() const {
    if (!m_doc->active()) {
        return Error{"the service list is not open"};
    }
    return {};
}

Status ServiceStore::insertRecord(ServiceFields fields, bool withRequest, bool withExtras) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    if (Status held = RefuseWhatXmlCannotHold(fields, withRequest, withExtras); !held) {
        return held;
    }
    Status saved = applyAndSave(
        [&] {
            m_doc->insert(fields, withRequest, withExtras);
            return true;
        },
        // Not on disk: not kept either, so that a second try adds it once.
        [&] { m_doc->removeLast(KeyOf(fields)); });
    followSize();
    return saved;
}

Status ServiceStore::InsertService(const ServiceFields& fields) {
    return insertRecord(fields, false, false);
}

Status ServiceStore::InsertURLService(const ServiceFields& fields, const UrlRequestFields& request,
                                      const std::vector<ExtraField>* extraFields) {
    return insertRecord(WithRequest(fields, request, extraFields), true, extraFields != nullptr);
}

Status ServiceStore::updateRecord(std::string_view oldKey, const ServiceFields& fields,
                                  bool withRequest, bool withExtras) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    if (Status held = RefuseWhatXmlCannotHold(fields, withRequest, withExtras); !held) {
        return held;
    }
    // The record as it was, to put back if the change cannot be saved.
    std::optional<ServiceEntry> before;
    return applyAndSave(
        [&] {
            before = m_doc->update(oldKey, fields, withRequest, withExtras);
            return before.has_value();
        },
        [&] { m_doc->restore(*before, KeyOf(fields)); });
}

Status ServiceStore::UpdateService(std::string_view oldKey, const ServiceFields& fields) {
    return updateRecord(oldKey, fields, false, false);
}

Status ServiceStore::UpdateURLService(std::string_view oldKey, const ServiceFields& fields,
                                      const UrlRequestFields& request,
                                      const std::vector<ExtraField>* extraFields) {
    return updateRecord(oldKey, WithRequest(fields, request, extraFields), true,
                        extraFields != nullptr);
}

Status ServiceStore::ReplaceExtraFields(std::string_view key,
                                        const std::vector<ExtraField>& fields) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    ServiceFields extras;
    extras.extraFields = fields;
    if (Status held = RefuseWhatXmlCannotHold(extras, false, true); !held) {
        return held;
    }
    return applyAndSave(
        [&] {
            return m_doc->change(
                key, [&](pugi::xml_node record) { xml::WriteExtraFields(record, fields); });
        },
        {});
}

Status ServiceStore::SetServiceRunState(std::string_view key, std::string_view state) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    if (Status held = RefuseWhatXmlCannotHold(EntryOf(Element::Status).name, state); !held) {
        return held;
    }
    const char* element = EntryOf(Element::Status).name;
    return applyAndSave(
        [&] {
            return m_doc->change(
                key, [&](pugi::xml_node record) { xml::SetChildText(record, element, state); });
        },
        {});
}

Status ServiceStore::SetServiceResult(std::string_view key, std::string_view status) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    if (Status ok = RefuseWhatXmlCannotHold(EntryOf(Element::ServiceStatus).name, status); !ok) {
        return ok;
    }
    // The record may hold it already: then nothing changes, and the writer
    // only looks whether someone else changed the file.
    if (m_doc->setResult(key, status) && m_owner == nullptr) {
        m_doc->applyHeld(false);  // no owner's turn to wait for: as soon as the writer lets go
    }
    m_writer.wake();
    return {};
}

Expected<bool> ServiceStore::DeleteService(std::string_view key) {
    if (Status active = requireActive(); !active) {
        return Error{active.error()};
    }
    bool found = false;
    const Status saved = applyAndSave(
        [&] {
            found = m_doc->remove(key);
            return found;
        },
        {});
    followSize();
    if (!saved) {
        return Error{saved.error()};
    }
    return found;
}

std::vector<ServiceRecord> ServiceStore::records() const {
    std::vector<ServiceRecord> out;
    forEachRecord([&out](const ServiceRecord& record) { out.push_back(record); });
    return out;
}

void ServiceStore::forEachRecord(const std::function<void(const ServiceRecord&)>& visit) const {
    for (const ServiceEntry& entry : m_doc->entries()) {
        if (entry.kind == ServiceEntry::Kind::Record) {
            visit(ServiceRecord(&entry));
        }
    }
}

std::size_t ServiceStore::recordCount() const {
    return m_doc->active() ? m_doc->count() : 0;
}

std::uint64_t ServiceStore::editCount() const {
    return m_doc->edits();
}

std::optional<ServiceRecord> ServiceStore::findRecord(std::string_view key) const {
    const ServiceEntry* entry = m_doc->find(key);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return ServiceRecord(entry);
}

}  // namespace vantor::registry
