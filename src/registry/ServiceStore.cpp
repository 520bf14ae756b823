#include "registry/ServiceStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string_view>
#include <utility>

#include <array>
#include <utility>

#include "app/AtomicFile.h"
#include "app/Words.h"

namespace vantor::registry {

namespace {

// Comments and processing instructions are kept, so that a save writes
// back what the operator wrote beside the records.
// A text that is an element's first content is kept in the element itself
// rather than in a child node of its own: a record holds about twenty such
// elements, and this halves the nodes a large list takes in memory.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration |
                                 pugi::parse_doctype | pugi::parse_ws_pcdata_single |
                                 pugi::parse_comments | pugi::parse_pi | pugi::parse_embed_pcdata;

// Deeper than any service list goes (serviceList, record, service_url, a
// field): a file nested far deeper is not one, and indenting it on save
// would make it grow without bound.
constexpr int kMaxDepth = 16;

// How deep elements nest below the document, walked without recursion.
int ElementDepth(const pugi::xml_document& doc) {
    int depth = 0;
    int deepest = 0;
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            deepest = std::max(deepest, ++depth);
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return deepest;
}

// Why a parsed file cannot be kept as it is, or empty when it can.
std::string WhyNotKept(const pugi::xml_document& doc) {
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        // Entities would be read without their declared text and written
        // back escaped: the file would no longer say what it said.
        if (node.type() == pugi::node_doctype &&
            std::string_view(node.value()).find("<!ENTITY") != std::string_view::npos) {
            return "it declares entities, which this program cannot keep";
        }
    }
    if (ElementDepth(doc) > kMaxDepth) {
        return "its elements nest deeper than " + std::to_string(kMaxDepth) + " levels";
    }
    return {};
}

// Whatever encoding the file declared, it is saved as UTF-8 and must say so.
void DeclareUtf8(pugi::xml_document& doc) {
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_declaration) {
            if (pugi::xml_attribute encoding = node.attribute("encoding")) {
                encoding.set_value("UTF-8");
            }
            return;
        }
    }
}

// Sets the text of the first child element with this name, appending the
// element when the record lacks it; existing elements keep their place.
void SetChildText(pugi::xml_node parent, const char* name, std::string_view value) {
    pugi::xml_node child = parent.child(name);
    if (!child) {
        child = parent.append_child(name);
    }
    // Drop any old content (several text nodes, comments) so that the element
    // reads back as exactly this value.
    while (child.first_child()) {
        child.remove_child(child.first_child());
    }
    // Replaces a text kept in the element itself, or adds one.
    child.text().set(std::string(value).c_str());
}

void AppendChildText(pugi::xml_node parent, const char* name, std::string_view value) {
    parent.append_child(name).append_child(pugi::node_pcdata).set_value(std::string(value).c_str());
}

void WriteUrlGroup(pugi::xml_node record, const UrlRequestFields& r, bool append) {
    pugi::xml_node group = record.child("service_url");
    if (!group) {
        group = record.append_child("service_url");
    }
    auto put = append ? AppendChildText : SetChildText;
    put(group, "referer", r.referer);
    put(group, "cookie", r.cookie);
    put(group, "headerData", r.headerData);
    put(group, "userAgent", r.userAgent);
    put(group, "contentType", r.contentType);
    put(group, "accept", r.accept);
    put(group, "acceptCharSet", r.acceptCharSet);
    put(group, "acceptEncoding", r.acceptEncoding);
    put(group, "acceptLanguage", r.acceptLanguage);
}

// Elements 1 to 20 of a record, in document order, with the values an
// insert or an update writes.
std::array<std::pair<const char*, std::string_view>, 20> RecordElements(const ServiceFields& f,
                                                                        std::string_view runState) {
    return {{{"service", f.service},
             {"ip", f.ip},
             {"port", f.port},
             {"username", f.username},
             {"password", f.password},
             {"schedule_by", f.scheduleBy},
             {"schedule_hour", f.scheduleHour},
             {"schedule_minute", f.scheduleMinute},
             {"service_status", words::kUnknown},
             {"status", runState},
             {"proxy_ip", f.proxyIp},
             {"proxy_port", f.proxyPort},
             {"proxy_username", f.proxyUsername},
             {"proxy_password", f.proxyPassword},
             {"url_method", f.urlMethod},
             {"ftp_proxytype", f.ftpProxyType},
             {"alarm_email", f.alarmEmail},
             {"alarm_smpp", f.alarmSmpp},
             {"alarm_httpsms", f.alarmHttpSms},
             {"alarm_syslog", f.alarmSyslog}}};
}

// The TLS elements that follow element 20: written when the record has them
// already or the value differs from the default (nothing said about TLS).
void WriteTlsElements(pugi::xml_node record, const ServiceFields& f) {
    const ServiceFields defaults;
    const std::pair<const char*, std::pair<std::string_view, std::string_view>> kOptional[] = {
        {"tls", {f.tls, defaults.tls}},
        {"tls_verify", {f.tlsVerify, defaults.tlsVerify}},
    };
    for (const auto& [name, value] : kOptional) {
        if (record.child(name) || value.first != value.second) {
            SetChildText(record, name, value.first);
        }
    }
}

struct StringWriter final : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override {
        out.append(static_cast<const char*>(data), size);
    }
};

// Where the comment, CDATA section, processing instruction or document type
// that starts at `at` ends; npos when none starts there.
std::size_t RawMarkupEnd(const std::string& xml, std::size_t at) {
    static constexpr std::pair<std::string_view, std::string_view> kClosedBy[] = {
        {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    for (const auto& [open, close] : kClosedBy) {
        if (xml.compare(at, open.size(), open) == 0) {
            const std::size_t found = xml.find(close, at + open.size());
            return found == std::string::npos ? xml.size() : found + close.size();
        }
    }
    if (xml.compare(at, 2, "<!") != 0) {
        return std::string::npos;
    }
    // The document type ends at the first ">" outside its internal subset
    // and its quoted literals.
    char quote = 0;
    int depth = 0;
    for (std::size_t i = at + 2; i < xml.size(); ++i) {
        const char c = xml[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[' || c == ']') {
            depth += c == '[' ? 1 : -1;
        } else if (c == '>' && depth <= 0) {
            return i + 1;
        }
    }
    return xml.size();
}

// pugixml writes a CR inside a text as it is, and XML readers turn it (alone
// or before an LF) into an LF; written as "&#13;" it reads back as a CR.
// Attribute values come out escaped already; comments, CDATA sections,
// processing instructions and the document type are left as they are.
std::string EscapeTextCarriageReturns(std::string xml) {
    if (xml.find('\r') == std::string::npos) {
        return xml;  // the usual case, without a copy of the whole file
    }
    std::string out;
    out.reserve(xml.size() + 64);
    for (std::size_t i = 0; i < xml.size();) {
        const std::size_t end = xml[i] == '<' ? RawMarkupEnd(xml, i) : std::string::npos;
        if (end != std::string::npos) {
            out.append(xml, i, end - i);
            i = end;
        } else {
            out += xml[i] == '\r' ? std::string_view("&#13;") : std::string_view(&xml[i], 1);
            ++i;
        }
    }
    return out;
}

// Whether the file differs from the version last read or written here. A
// file that is gone (or cannot be reached) has no version to take in.
bool ChangedByOthers(const std::string& path, const std::optional<app::FileStamp>& known) {
    const auto now = app::StampOf(path);
    return known && now && *now != *known;
}

}  // namespace

ServiceStore::ServiceStore(std::string filePath) : m_filePath(std::move(filePath)) {}

ServiceStore::~ServiceStore() {
    stopWriter();
}

bool ServiceStore::ServiceFileExists() const {
    // A link that points nowhere exists too: it is an error to open, never a
    // place to make an empty list.
    struct stat st {};
    return ::lstat(m_filePath.c_str(), &st) == 0;
}

Status ServiceStore::parseFile(pugi::xml_document& doc, std::size_t& size,
                               std::optional<app::FileStamp>& stamp) const {
    // The stamp first: a write that comes while we read shows as a change.
    stamp = app::StampOf(m_filePath);
    Expected<std::string> data = app::ReadWholeFile(m_filePath);
    if (!data) {
        return Error{data.error()};
    }
    size = data->size();
    const pugi::xml_parse_result parsed =
        doc.load_buffer(data->data(), data->size(), kParseFlags, pugi::encoding_auto);
    if (!parsed) {
        return Error{m_filePath + ": " + parsed.description() + " at offset " +
                     std::to_string(parsed.offset)};
    }
    if (!doc.document_element() ||
        std::string_view(doc.document_element().name()) != "serviceList") {
        return Error{m_filePath + ": the root element is not serviceList"};
    }
    if (const std::string why = WhyNotKept(doc); !why.empty()) {
        return Error{m_filePath + ": " + why};
    }
    DeclareUtf8(doc);
    return {};
}

Status ServiceStore::OpenServiceFile(bool active) {
    if (!active) {
        stopWriter();
        Status status;
        if (m_active) {
            status = save(true);
        }
        std::lock_guard lock(m_docMutex);
        m_doc.reset();
        m_index.clear();
        m_active = false;
        return status;
    }
    pugi::xml_document doc;
    std::size_t size = 0;
    std::optional<app::FileStamp> stamp;
    if (Status parsed = parseFile(doc, size, stamp); !parsed) {
        return parsed;
    }
    stopWriter();
    {
        std::lock_guard file(m_fileMutex);
        m_diskStamp = stamp;
    }
    m_changeNoticed = false;
    {
        std::lock_guard lock(m_docMutex);
        m_doc = std::move(doc);
        m_snapshotSize = size;
        m_active = true;
        m_savedVersion = m_version;
    }
    rebuildIndex();
    startWriter();
    return {};
}

Status ServiceStore::CreateServiceFile() {
    stopWriter();
    {
        std::lock_guard lock(m_docMutex);
        m_doc.reset();
        m_index.clear();
        m_active = false;
    }
    std::lock_guard file(m_fileMutex);
    return app::WriteFileAtomically(m_filePath, kTemplate);
}

void ServiceStore::setWriteFailedHandler(WriteFailedHandler handler) {
    std::lock_guard lock(m_writerMutex);
    m_writeFailed = std::move(handler);
}

void ServiceStore::setResultWriteInterval(std::chrono::milliseconds interval) {
    std::lock_guard lock(m_writerMutex);
    m_interval = interval;
}

pugi::xml_node ServiceStore::listNode() const {
    if (!m_active) {
        return {};
    }
    return m_doc.child("serviceList");
}

void ServiceStore::rebuildIndex() {
    m_index.clear();
    for (pugi::xml_node rec = listNode().first_child(); rec; rec = rec.next_sibling()) {
        if (rec.type() == pugi::node_element) {
            m_index[rec.attribute("key").value()] = rec;  // the last one wins
        }
    }
}

pugi::xml_node ServiceStore::findNode(std::string_view key) const {
    const auto found = m_index.find(std::string(key));
    return found == m_index.end() ? pugi::xml_node() : found->second;
}

int ServiceStore::FindService(std::string_view key) const {
    int found = -1;
    int index = 0;
    for (pugi::xml_node child = listNode().first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (key == child.attribute("key").value()) {
            found = index;
        }
        ++index;
    }
    return found;
}

ServiceStore::Snapshot ServiceStore::snapshot() const {
    std::lock_guard lock(m_docMutex);
    StringWriter writer;
    // Room for about the last write's size at once: growing a large text
    // step by step would hold two or three copies of it for a while.
    writer.out.reserve(m_snapshotSize + m_snapshotSize / 16 + 4096);
    m_doc.save(
        writer, "  ",
        pugi::format_indent | pugi::format_no_declaration | pugi::format_no_empty_element_tags,
        pugi::encoding_utf8);
    m_snapshotSize = writer.out.size();
    return {std::move(writer.out), m_version};
}

Status ServiceStore::save(bool onOwner) {
    if (!m_active) {
        return Error{"the service list is not open"};
    }
    // Someone else wrote the file: theirs is taken in on the owner thread
    // before anything of ours is written.
    if (onOwner) {
        if (Status taken = takeChangesFirst(); !taken) {
            return taken;
        }
    }
    std::lock_guard file(m_fileMutex);
    if (!onOwner && ChangedByOthers(m_filePath, m_diskStamp)) {
        if (!m_changeNoticed.exchange(true) && m_changedOnDisk) {
            m_changedOnDisk();
        }
        return {};
    }
    {
        std::lock_guard lock(m_docMutex);
        if (m_savedVersion == m_version) {
            return {};  // the file has it already
        }
    }
    Snapshot now = snapshot();
    Status written =
        app::WriteFileAtomically(m_filePath, EscapeTextCarriageReturns(std::move(now.text)));
    if (written) {
        m_diskStamp = app::StampOf(m_filePath);
        std::lock_guard lock(m_docMutex);
        m_savedVersion = std::max(m_savedVersion, now.version);
    }
    return written;
}

Status ServiceStore::takeOperatorsVersion() {
    pugi::xml_document doc;
    std::size_t size = 0;
    std::optional<app::FileStamp> stamp;
    if (Status parsed = parseFile(doc, size, stamp); !parsed) {
        return parsed;  // ours stays, and is not written over theirs
    }
    // The results we hold go on for the records that are still there.
    for (pugi::xml_node rec = doc.child("serviceList").first_child(); rec;
         rec = rec.next_sibling()) {
        if (rec.type() != pugi::node_element) {
            continue;
        }
        const pugi::xml_node ours = findNode(rec.attribute("key").value());
        if (ours && ours.child("service_status")) {
            SetChildText(rec, "service_status", ours.child_value("service_status"));
        }
    }
    {
        std::lock_guard file(m_fileMutex);
        m_diskStamp = stamp;
    }
    {
        std::lock_guard lock(m_docMutex);
        m_doc = std::move(doc);
        m_snapshotSize = size;
        changed();  // the results carried over go to the file
    }
    rebuildIndex();
    m_changeNoticed = false;
    if (onReloaded) {
        onReloaded();
    }
    return {};
}

Status ServiceStore::takeChangesFirst() {
    std::optional<app::FileStamp> known;
    {
        std::lock_guard file(m_fileMutex);
        known = m_diskStamp;
    }
    return ChangedByOthers(m_filePath, known) ? takeOperatorsVersion() : Status{};
}

Status ServiceStore::TakeChangesOnDisk() {
    return m_active ? flush() : Status{};
}

Status ServiceStore::reloadNow() {
    if (!m_active) {
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

void ServiceStore::startWriter() {
    std::lock_guard lock(m_writerMutex);
    m_writerStop = false;
    m_resultPending = false;
    m_writer = std::thread([this] { writerMain(); });
}

void ServiceStore::stopWriter() {
    {
        std::lock_guard lock(m_writerMutex);
        m_writerStop = true;
    }
    m_writerWake.notify_all();
    if (m_writer.joinable()) {
        m_writer.join();
    }
}

void ServiceStore::writerMain() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastWrite{};
    std::unique_lock lock(m_writerMutex);
    for (;;) {
        m_writerWake.wait(lock, [&] { return m_writerStop || m_resultPending; });
        if (m_writerStop) {
            return;
        }
        // Results that come in the meantime go with this write.
        const Clock::time_point due = lastWrite + m_interval;
        if (m_writerWake.wait_until(lock, due, [&] { return m_writerStop; })) {
            return;  // closing writes what is left
        }
        m_resultPending = false;
        lock.unlock();
        const Status written = save(false);
        lastWrite = Clock::now();
        lock.lock();
        // A failed write is told once; the next result tries again.
        if (!written && m_writeFailed) {
            const WriteFailedHandler handler = m_writeFailed;
            lock.unlock();
            handler(written.error());
            lock.lock();
        }
    }
}

Status ServiceStore::requireActive() const {
    if (!listNode()) {
        return Error{"the service list is not open"};
    }
    return {};
}

Status ServiceStore::changeRecord(std::string_view key,
                                  const std::function<void(pugi::xml_node)>& change, bool saveNow) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    // An edit applies to the file as the operator left it.
    if (saveNow) {
        if (Status taken = takeChangesFirst(); !taken) {
            return taken;
        }
    }
    pugi::xml_node record = findNode(key);
    if (!record) {
        return {};  // nothing to change
    }
    {
        std::lock_guard lock(m_docMutex);
        change(record);
        changed();
    }
    if (saveNow) {
        return save(true);
    }
    {
        std::lock_guard lock(m_writerMutex);
        m_resultPending = true;
    }
    m_writerWake.notify_one();
    return {};
}

namespace {

void WriteExtraFields(pugi::xml_node record, const std::vector<ExtraField>& fields) {
    while (pugi::xml_node old = record.child("service_url_detail")) {
        record.remove_child(old);
    }
    for (const ExtraField& field : fields) {
        pugi::xml_node detail = record.append_child("service_url_detail");
        AppendChildText(detail, "fieldname", field.name);
        AppendChildText(detail, "fieldvalue", field.value);
        AppendChildText(detail, "isFile", "n");
    }
}

}  // namespace

Status ServiceStore::insertRecord(const ServiceFields& fields, const UrlRequestFields* request,
                                  const std::vector<ExtraField>* extraFields) {
    if (Status active = requireActive(); !active) {
        return active;
    }
    if (Status taken = takeChangesFirst(); !taken) {
        return taken;
    }
    const std::string key = MakeServiceKey(fields.service, fields.ip, fields.port);
    {
        std::lock_guard lock(m_docMutex);
        pugi::xml_node record = listNode().append_child("record");
        record.append_attribute("key") = key.c_str();
        for (const auto& [name, value] : RecordElements(fields, words::kStart)) {
            AppendChildText(record, name, value);
        }
        WriteTlsElements(record, fields);
        if (request != nullptr) {
            WriteUrlGroup(record, *request, true);
        }
        if (extraFields != nullptr) {
            WriteExtraFields(record, *extraFields);
        }
        m_index[key] = record;
        changed();
    }
    Status saved = save(true);
    if (!saved) {
        // Not on disk: not kept either, so that a second try adds it once.
        if (pugi::xml_node added = findNode(key)) {
            std::lock_guard lock(m_docMutex);
            listNode().remove_child(added);
            changed();
        }
        rebuildIndex();
    }
    return saved;
}

Status ServiceStore::InsertService(const ServiceFields& fields) {
    return insertRecord(fields, nullptr, nullptr);
}

Status ServiceStore::InsertURLService(const ServiceFields& fields, const UrlRequestFields& request,
                                      const std::vector<ExtraField>* extraFields) {
    return insertRecord(fields, &request, extraFields);
}

void ServiceStore::writeRecord(pugi::xml_node record, const ServiceFields& f) {
    pugi::xml_attribute key = record.attribute("key");
    if (!key) {
        key = record.append_attribute("key");
    }
    key = MakeServiceKey(f.service, f.ip, f.port).c_str();
    for (const auto& [name, value] : RecordElements(f, f.runState)) {
        SetChildText(record, name, value);
    }
    WriteTlsElements(record, f);
}

Status ServiceStore::UpdateService(std::string_view oldKey, const ServiceFields& fields) {
    return updateRecord(oldKey, fields, nullptr, nullptr);
}

Status ServiceStore::UpdateURLService(std::string_view oldKey, const ServiceFields& fields,
                                      const UrlRequestFields& request,
                                      const std::vector<ExtraField>* extraFields) {
    return updateRecord(oldKey, fields, &request, extraFields);
}

Status ServiceStore::updateRecord(std::string_view oldKey, const ServiceFields& fields,
                                  const UrlRequestFields* request,
                                  const std::vector<ExtraField>* extraFields) {
    // The record as it was, to put back if the change cannot be saved.
    pugi::xml_document before;
    Status saved = changeRecord(
        oldKey,
        [&](pugi::xml_node record) {
            before.append_copy(record);
            writeRecord(record, fields);
            if (request != nullptr) {
                WriteUrlGroup(record, *request, false);
            }
            if (extraFields != nullptr) {
                WriteExtraFields(record, *extraFields);
            }
        },
        true);
    rebuildIndex();  // the key may have changed
    if (saved || !before.first_child()) {
        return saved;
    }
    const std::string newKey = MakeServiceKey(fields.service, fields.ip, fields.port);
    if (pugi::xml_node changedRecord = findNode(newKey)) {
        {
            std::lock_guard lock(m_docMutex);
            listNode().insert_copy_before(before.first_child(), changedRecord);
            listNode().remove_child(changedRecord);
            changed();
        }
        rebuildIndex();
    }
    return saved;
}

Status ServiceStore::ReplaceExtraFields(std::string_view key,
                                        const std::vector<ExtraField>& fields) {
    return changeRecord(
        key, [&](pugi::xml_node record) { WriteExtraFields(record, fields); }, true);
}

Status ServiceStore::SetServiceRunState(std::string_view key, std::string_view state) {
    return changeRecord(
        key, [&](pugi::xml_node record) { SetChildText(record, "status", state); }, true);
}

Status ServiceStore::SetServiceResult(std::string_view key, std::string_view status) {
    return changeRecord(
        key, [&](pugi::xml_node record) { SetChildText(record, "service_status", status); }, false);
}

Expected<bool> ServiceStore::DeleteService(std::string_view key) {
    if (Status active = requireActive(); !active) {
        return Error{active.error()};
    }
    if (Status taken = takeChangesFirst(); !taken) {
        return Error{taken.error()};
    }
    pugi::xml_node record = findNode(key);
    if (!record) {
        return false;
    }
    {
        std::lock_guard lock(m_docMutex);
        listNode().remove_child(record);
        changed();
    }
    rebuildIndex();
    if (Status saved = save(true); !saved) {
        return Error{saved.error()};
    }
    return true;
}

std::vector<ServiceRecord> ServiceStore::records() const {
    std::vector<ServiceRecord> out;
    for (pugi::xml_node rec = listNode().first_child(); rec; rec = rec.next_sibling()) {
        if (rec.type() == pugi::node_element) {
            out.emplace_back(rec);
        }
    }
    return out;
}

void ServiceStore::forEachRecord(const std::function<void(const ServiceRecord&)>& visit) const {
    for (pugi::xml_node rec = listNode().first_child(); rec; rec = rec.next_sibling()) {
        if (rec.type() == pugi::node_element) {
            visit(ServiceRecord(rec));
        }
    }
}

std::size_t ServiceStore::recordCount() const {
    std::size_t n = 0;
    for (pugi::xml_node rec = listNode().first_child(); rec; rec = rec.next_sibling()) {
        if (rec.type() == pugi::node_element) {
            ++n;
        }
    }
    return n;
}

std::optional<ServiceRecord> ServiceStore::findRecord(std::string_view key) const {
    const pugi::xml_node node = findNode(key);
    if (!node) {
        return std::nullopt;
    }
    return ServiceRecord(node);
}

}  // namespace vantor::registry
