// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceRecord.h"

#include <algorithm>

#include "registry/ServiceElements.h"
#include "registry/ServiceEntry.h"

namespace vantor::registry {

std::string MakeServiceKey(std::string_view service, std::string_view ip, std::string_view port) {
    std::string key;
    key.reserve(service.size() + ip.size() + port.size() + 2);
    key += service;
    key += ':';
    key += ip;
    key += ':';
    key += port;
    return key;
}

namespace {

// The element of a name within one group, or Count. Records hold their
// elements in table order, so the one after the last found is tried first.
Element Lookup(std::string_view name, bool requestGroup, std::size_t& next) {
    const auto elements = Elements();
    if (next < elements.size() && name == elements[next].name &&
        (elements[next].group == ElementGroup::UrlRequest) == requestGroup) {
        return elements[next++].element;
    }
    for (const ElementEntry& entry : elements) {
        if ((entry.group == ElementGroup::UrlRequest) == requestGroup && name == entry.name) {
            next = static_cast<std::size_t>(entry.element) + 1;
            return entry.element;
        }
    }
    return Element::Count;
}

// Reads the children of items[parent - 1] (or of the record, parent 0)
// that belong to the group into f; the first element of a name counts, as
// find() reads it.
void ReadGroup(const ServiceEntry& entry, std::size_t parent, bool requestGroup, ServiceFields& f) {
    std::size_t next = requestGroup ? static_cast<std::size_t>(Element::Referer) : 0;
    entry.forEachChild(parent, [&](std::size_t, const ServiceEntry::Item& item) {
        const Element element = Lookup(entry.name(item), requestGroup, next);
        if (element != Element::Count && !f.has(element)) {
            f.present.set(static_cast<std::size_t>(element));
            FieldOf(f, element) = entry.text(item);
        }
        return true;
    });
}

std::optional<std::string_view> TextOf(const ServiceEntry& entry, std::size_t parent,
                                       std::string_view name) {
    const int at = entry.child(parent, name);
    if (at < 0) {
        return std::nullopt;
    }
    return entry.text(entry.items[static_cast<std::size_t>(at)]);
}

}  // namespace

std::string_view ServiceRecord::key() const {
    return m_entry->keyText();
}

ServiceFields ServiceRecord::fields(bool withRequest) const {
    ServiceFields f;
    // An element the record lacks reads as empty; one of those that came
    // later (TLS) as its default, which is what records from before it meant.
    for (const ElementEntry& entry : Elements()) {
        if (entry.group == ElementGroup::Record) {
            f.*entry.field = std::string();
        }
    }
    f.key = key();
    ReadGroup(*m_entry, 0, false, f);
    if (withRequest) {
        if (const int group = m_entry->child(0, kUrlGroupElement); group >= 0) {
            ReadGroup(*m_entry, static_cast<std::size_t>(group) + 1, true, f);
        }
        f.extraFields = extraFields();
    }
    return f;
}

std::optional<std::string_view> ServiceRecord::find(Element element) const {
    const ElementEntry& entry = EntryOf(element);
    if (entry.group == ElementGroup::UrlRequest) {
        return findUrlField(entry.name);
    }
    return TextOf(*m_entry, 0, entry.name);
}

std::string_view ServiceRecord::text(Element element) const {
    return find(element).value_or(std::string_view());
}

void ServiceRecord::findAll(const Element* elements, std::optional<std::string_view>* values,
                            std::size_t count) const {
    std::string_view names[kElementCount];
    count = std::min(count, kElementCount);
    for (std::size_t i = 0; i < count; ++i) {
        names[i] = ElementName(elements[i]);
    }
    findAll(names, values, count);
}

std::optional<std::string_view> ServiceRecord::find(std::string_view element) const {
    return TextOf(*m_entry, 0, element);
}

void ServiceRecord::findAll(const std::string_view* names, std::optional<std::string_view>* values,
                            std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
        values[i].reset();
    }
    std::size_t left = count;
    m_entry->forEachChild(0, [&](std::size_t, const ServiceEntry::Item& item) {
        const std::string_view name = m_entry->name(item);
        for (std::size_t i = 0; i < count; ++i) {
            if (!values[i] && names[i] == name) {
                values[i] = m_entry->text(item);
                --left;
                break;
            }
        }
        return left > 0;
    });
}

std::string_view ServiceRecord::text(std::string_view element) const {
    return find(element).value_or(std::string_view());
}

std::optional<std::string_view> ServiceRecord::findUrlField(std::string_view element) const {
    const int group = m_entry->child(0, kUrlGroupElement);
    if (group < 0) {
        return std::nullopt;
    }
    return TextOf(*m_entry, static_cast<std::size_t>(group) + 1, element);
}

std::vector<ExtraField> ServiceRecord::extraFields() const {
    std::vector<ExtraField> fields;
    m_entry->forEachChild(0, [&](std::size_t i, const ServiceEntry::Item& item) {
        if (m_entry->name(item) == kExtraFieldElement) {
            fields.push_back(
                {std::string(TextOf(*m_entry, i + 1, kExtraNameElement).value_or("")),
                 std::string(TextOf(*m_entry, i + 1, kExtraValueElement).value_or(""))});
        }
        return true;
    });
    return fields;
}

}  // namespace vantor::registry
