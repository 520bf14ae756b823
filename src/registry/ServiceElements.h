// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "registry/ServiceFields.h"

namespace vantor::registry {

// The kinds of service a check reads an element for, as bits.
enum KindBits : unsigned {
    kKindUrl = 1U << 0,
    kKindPing = 1U << 1,
    kKindSmtp = 1U << 2,
    kKindPop3 = 1U << 3,
    kKindImap = 1U << 4,
    kKindFtp = 1U << 5,
    kKindMail = kKindSmtp | kKindPop3 | kKindImap,
    kKindsChecked = kKindUrl | kKindPing | kKindMail | kKindFtp,
};

// The bit of a kind of service ("URL", "SMTP", ...); 0 for one without a
// check ("Database", anything else).
unsigned KindBit(std::string_view service);

// Where an element stands in a record.
enum class ElementGroup {
    Record,      // one of the twenty that every write sets
    Optional,    // after the twenty, written where it differs from its default
    UrlRequest,  // a child of the service_url group
};

// One row of the element table: the element's name in service.xml, its
// place, the field of ServiceFields that holds it, and the kinds whose
// check cannot do without it.
struct ElementEntry {
    Element element;
    const char* name;
    ElementGroup group;
    std::string ServiceFields::*field;       // Record and Optional
    std::string UrlRequestFields::*request;  // UrlRequest
    unsigned neededBy;
};

// Every element, in the order of the enum (and of a new record).
std::span<const ElementEntry> Elements();
const ElementEntry& EntryOf(Element element);
inline std::string_view ElementName(Element element) {
    return EntryOf(element).name;
}

// The field that holds an element's value.
std::string& FieldOf(ServiceFields& fields, Element element);
const std::string& FieldOf(const ServiceFields& fields, Element element);

// The names of the containers around the URL request values and the extra
// request fields, and of an extra field's children.
inline constexpr const char* kRecordElement = "record";
inline constexpr const char* kKeyAttribute = "key";
inline constexpr const char* kUrlGroupElement = "service_url";
inline constexpr const char* kExtraFieldElement = "service_url_detail";
inline constexpr const char* kExtraNameElement = "fieldname";
inline constexpr const char* kExtraValueElement = "fieldvalue";
inline constexpr const char* kExtraIsFileElement = "isFile";

}  // namespace vantor::registry
