#include "registry/ServiceStore.h"

#include <sys/stat.h>

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
    parsed.size = data->size();
    return xml::Parse(*data, path, parsed.doc);
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
            status = save(true);
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
    m_writer.setInterval(interval);
}

void ServiceStore::startWriter() {
    m_writer.start([this] { return save(false); });
}

int ServiceStore::FindService(std::string_view key) const {
    return m_doc->position(key);
}

Status ServiceStore::save(bool onOwner) {
    if (!m_doc->active()) {
        return Error{"the service list is not open"};
    }
    // Someone else wrote the file: theirs is taken in on the owner thread
    // before anything of ours is written.
    if (onOwner) {
        m_doc->applyHeld(true);
        if (Status taken = takeChangesFirst(); !taken) {
            return taken;
        }
    }
    std::lock_guard file(m_fileMutex);
    if (!onOwner && m_watch.changedByOthers()) {
        m_watch.notice();
        return {};
    }
    if (m_doc->saved()) {
        return {};  // the file has it already
    }
    ServiceDocument::Snapshot now = m_doc->snapshot();
    if (!onOwner && m_doc->holdsResults()) {
        askOwnerToApplyHeld();
    }
    Status written = app::WriteFileAtomically(m_filePath, now.text);
    if (written) {
        m_watch.remember(app::StampOf(m_filePath));
        m_doc->markSaved(now.version);
    }
    return written;
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
    return m_doc->active() ? flush() : Status{};
}

Status ServiceStore::reloadNow() {
    if (!m_doc->active()) {
        return Error{"the service list is not open"};
    }
    if (Status taken = takeOperatorsVersion(); !taken) {
        return taken;
    }
    return save(true);
}

Status ServiceStore::flush() {
    return save(true);
}

Status ServiceStore::requireActive() const {
    if (!m_doc->list()) {
        return Error{"the service list is not open"};
    }
    return {};
}

Status ServiceStore::insertRecord(ServiceFields fields, bool withRequest, bool withExtras) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    if (Status taken = takeChangesFirst(); !taken) {
        return taken;
    }
    m_doc->insert(fields, withRequest, withExtras);
    Status saved = save(true);
    if (!saved) {
        // Not on disk: not kept either, so that a second try adds it once.
        m_doc->removeLast(KeyOf(fields));
    }
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
    // An edit applies to the file as the operator left it.
    if (Status taken = takeChangesFirst(); !taken) {
        return taken;
    }
    // The record as it was, to put back if the change cannot be saved.
    const pugi::xml_document before = m_doc->update(oldKey, fields, withRequest, withExtras);
    if (!before.first_child()) {
        return {};  // nothing to change
    }
    Status saved = save(true);
    if (!saved) {
        m_doc->restore(before, KeyOf(fields));
    }
    return saved;
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
    if (Status taken = takeChangesFirst(); !taken) {
        return taken;
    }
    if (!m_doc->change(key,
                       [&](pugi::xml_node record) { xml::WriteExtraFields(record, fields); })) {
        return {};
    }
    return save(true);
}

Status ServiceStore::SetServiceRunState(std::string_view key, std::string_view state) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    if (Status taken = takeChangesFirst(); !taken) {
        return taken;
    }
    const char* element = SpecOf(Element::Status).name;
    if (!m_doc->change(key,
                       [&](pugi::xml_node record) { xml::SetChildText(record, element, state); })) {
        return {};
    }
    return save(true);
}

Status ServiceStore::SetServiceResult(std::string_view key, std::string_view status) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    m_doc->setResult(key, status);
    if (m_owner == nullptr) {
        m_doc->applyHeld(false);  // no owner's turn to wait for: as soon as the writer lets go
    }
    m_writer.wake();
    return {};
}

Expected<bool> ServiceStore::DeleteService(std::string_view key) {
    if (Status active = requireActive(); !active) {
        return Error{active.error()};
    }
    if (Status taken = takeChangesFirst(); !taken) {
        return Error{taken.error()};
    }
    if (!m_doc->remove(key)) {
        return false;
    }
    if (Status saved = save(true); !saved) {
        return Error{saved.error()};
    }
    return true;
}

std::vector<ServiceRecord> ServiceStore::records() const {
    std::vector<ServiceRecord> out;
    forEachRecord([&out](const ServiceRecord& record) { out.push_back(record); });
    return out;
}

void ServiceStore::forEachRecord(const std::function<void(const ServiceRecord&)>& visit) const {
    for (pugi::xml_node rec = m_doc->list().first_child(); rec; rec = rec.next_sibling()) {
        if (rec.type() == pugi::node_element) {
            visit(ServiceRecord(rec.internal_object()));
        }
    }
}

std::size_t ServiceStore::recordCount() const {
    std::size_t n = 0;
    forEachRecord([&n](const ServiceRecord&) { ++n; });
    return n;
}

std::optional<ServiceRecord> ServiceStore::findRecord(std::string_view key) const {
    const pugi::xml_node node = m_doc->find(key);
    if (!node) {
        return std::nullopt;
    }
    return ServiceRecord(node.internal_object());
}

}  // namespace vantor::registry
