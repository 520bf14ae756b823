// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The text of service.xml and the elements of its records, as pugixml holds
// them. Inside registry/ only.
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"
#include "registry/ServiceEntry.h"
#include "registry/ServiceFields.h"

namespace vantor::registry::xml {

// Parses a service list from its bytes; `where` names the file in errors.
// A document is refused when it is not XML, its root is not serviceList,
// or it could not be written back saying the same (declared entities,
// nesting without bound), or its bytes cannot be read in the encoding it
// declares. Whatever encoding it declared, it is held and declared as UTF-8
// after, as it will be saved. The tree is taken apart into the
// entries of the list as it is read, so that the whole file is never held
// both as a tree and as entries.
Status Parse(std::string data, const std::string& where, ServiceList& list);

// Writes the list to fd as the file holds it: indented, without a
// declaration of pugixml's own, a CR inside a text written so that it reads
// back as one. False with errno set when a write failed.
bool Save(const ServiceList& list, int fd);

// A child of serviceList as an entry; a record's texts are found in it.
ServiceEntry MakeEntry(pugi::xml_node node);
// Finds where the record's names and texts are (again, after a change of
// its body).
void IndexEntry(ServiceEntry& entry, pugi::xml_node node);
// The record's tree, read back from its body into doc; null if it cannot be.
pugi::xml_node TreeOf(const ServiceEntry& entry, pugi::xml_document& doc);

// Whether a text of an element is written as it reads (nothing in it is
// escaped).
bool WrittenAsItReads(std::string_view text);

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
