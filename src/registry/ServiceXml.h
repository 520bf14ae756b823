#pragma once

// The text of service.xml and the elements of its records, as pugixml holds
// them. Inside registry/ only.
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"
#include "registry/ServiceFields.h"

namespace vantor::registry::xml {

// Parses a service list from its bytes; `where` names the file in errors.
// A document is refused when it is not XML, its root is not serviceList,
// or it could not be written back saying the same (declared entities,
// nesting without bound). Whatever encoding it declared, it is declared
// UTF-8 after, as it will be saved.
Status Parse(std::string data, const std::string& where, pugi::xml_document& doc);

// Writes the document to fd as the file holds it: indented, without a
// declaration of pugixml's own, a CR inside a text written so that it reads
// back as one. False with errno set when a write failed.
bool Save(const pugi::xml_document& doc, int fd);

// What in a text an XML 1.0 file cannot hold ("U+0001", "bytes that are not
// UTF-8"), or nullopt when it can hold all of it.
std::optional<std::string> WhyNotXmlText(std::string_view text);

// Sets the text of the first child element with this name, appending the
// element when the parent lacks it; existing elements keep their place.
void SetChildText(pugi::xml_node parent, const char* name, std::string_view value);

// The elements a write sets. Elements 1 to 20 with runState as "status" and
// "Unknown" as the result; the TLS pair where the record has it or it
// differs from its default. append: a new record (elements appended in
// order) rather than a change of one (set by name, in place).
void WriteRecord(pugi::xml_node record, const ServiceFields& f, std::string_view runState,
                 bool append);
void WriteUrlGroup(pugi::xml_node record, const UrlRequestFields& r, bool append);
// Replaces the record's extra request fields.
void WriteExtraFields(pugi::xml_node record, const std::vector<ExtraField>& fields);

}  // namespace vantor::registry::xml
