#pragma once

#include <functional>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"
#include "registry/ServiceRecord.h"

namespace vantor::registry {

// The service list: service.xml held as one document for the life of the
// process. Every change is written back to the file before the operation
// returns; the file is replaced atomically and is readable by its owner
// only. A change whose save failed stays in the document and is written with
// the next save. The store shows nothing itself: failures come back as
// results. Owner thread only.
class ServiceStore final {
public:
    // The exact text of a new, empty service file.
    static constexpr std::string_view kTemplate =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>"
        "<!DOCTYPE service><serviceList></serviceList>";

    explicit ServiceStore(std::string filePath);
    ServiceStore(const ServiceStore&) = delete;
    ServiceStore& operator=(const ServiceStore&) = delete;

    const std::string& filePath() const { return m_filePath; }
    bool isActive() const { return m_active; }

    bool ServiceFileExists() const;
    // active: load the file (never writes to it; a file that cannot be read
    // or parsed is left as it is). inactive: write unsaved changes, then
    // unload.
    Status OpenServiceFile(bool active);
    // Writes the template to the file, replacing what is there.
    Status CreateServiceFile();

    // Position among the children of serviceList of the last record with
    // this key, or -1.
    int FindService(std::string_view key) const;

    // The changes by key change the last record with that key; a key that
    // is not there changes nothing and succeeds.
    Status InsertService(const ServiceFields& fields);
    Status InsertURLService(const ServiceFields& fields, const UrlRequestFields& request);
    Status UpdateService(std::string_view oldKey, const ServiceFields& fields);
    Status UpdateURLService(std::string_view oldKey, const ServiceFields& fields,
                            const UrlRequestFields& request);
    // Replaces the extra request fields of the record with this key.
    Status ReplaceExtraFields(std::string_view key, const std::vector<ExtraField>& fields);
    Status SetServiceRunState(std::string_view key, std::string_view state);
    Status SetServiceResult(std::string_view key, std::string_view status);
    // Whether a record was there to delete; the caller tells the operator
    // "Cannot find this record in xml file." when none was.
    Expected<bool> DeleteService(std::string_view key);

    // The records in document order.
    std::vector<ServiceRecord> records() const;
    // Visits the records in document order without building a list; the
    // visitor must not change the store.
    void forEachRecord(const std::function<void(const ServiceRecord&)>& visit) const;
    std::size_t recordCount() const;
    // The last record with this key.
    std::optional<ServiceRecord> findRecord(std::string_view key) const;

private:
    pugi::xml_node listNode() const;
    pugi::xml_node findNode(std::string_view key) const;
    Status save();
    // Marks the document changed and saves it.
    Status commit();
    Status requireActive() const;
    Status insertRecord(const ServiceFields& fields, const UrlRequestFields* request);
    void writeRecord(pugi::xml_node record, const ServiceFields& f);
    // Applies `change` to the last record with this key and saves; a missing
    // key changes nothing and succeeds.
    Status changeRecord(std::string_view key, const std::function<void(pugi::xml_node)>& change);

    std::string m_filePath;
    pugi::xml_document m_doc;
    bool m_active = false;
    bool m_dirty = false;
};

}  // namespace vantor::registry
