#include "registry/ServiceRecord.h"

#include <algorithm>
#include <pugixml.hpp>

#include "registry/ServiceElements.h"

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

pugi::xml_node ChildNamed(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && name == child.name()) {
            return child;
        }
    }
    return {};
}

std::optional<std::string_view> TextOf(pugi::xml_node parent, std::string_view name) {
    const pugi::xml_node child = ChildNamed(parent, name);
    if (!child) {
        return std::nullopt;
    }
    return std::string_view(child.child_value());
}

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

// Reads the children of `parent` that belong to the group into f; the first
// element of a name counts, as find() reads it.
void ReadGroup(pugi::xml_node parent, bool requestGroup, ServiceFields& f) {
    std::size_t next = requestGroup ? static_cast<std::size_t>(Element::Referer) : 0;
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        const Element element = Lookup(child.name(), requestGroup, next);
        if (element == Element::Count || f.has(element)) {
            continue;
        }
        f.present.set(static_cast<std::size_t>(element));
        FieldOf(f, element) = child.child_value();
    }
}

}  // namespace

std::string_view ServiceRecord::key() const {
    return pugi::xml_node(m_node).attribute(kKeyAttribute).value();
}

ServiceFields ServiceRecord::fields(bool withRequest) const {
    const pugi::xml_node node(m_node);
    ServiceFields f;
    // An element the record lacks reads as empty; one of those that came
    // later (TLS) as its default, which is what records from before it meant.
    for (const ElementEntry& entry : Elements()) {
        if (entry.group == ElementGroup::Record) {
            f.*entry.field = std::string();
        }
    }
    f.key = key();
    ReadGroup(node, false, f);
    if (withRequest) {
        if (const pugi::xml_node group = ChildNamed(node, kUrlGroupElement)) {
            ReadGroup(group, true, f);
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
    return TextOf(pugi::xml_node(m_node), entry.name);
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
    return TextOf(pugi::xml_node(m_node), element);
}

void ServiceRecord::findAll(const std::string_view* names, std::optional<std::string_view>* values,
                            std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
        values[i].reset();
    }
    std::size_t left = count;
    for (pugi::xml_node child = pugi::xml_node(m_node).first_child(); child && left > 0;
         child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        const std::string_view name = child.name();
        for (std::size_t i = 0; i < count; ++i) {
            if (!values[i] && names[i] == name) {
                values[i] = std::string_view(child.child_value());
                --left;
                break;
            }
        }
    }
}

std::string_view ServiceRecord::text(std::string_view element) const {
    return find(element).value_or(std::string_view());
}

std::optional<std::string_view> ServiceRecord::findUrlField(std::string_view element) const {
    const pugi::xml_node group = ChildNamed(pugi::xml_node(m_node), kUrlGroupElement);
    if (!group) {
        return std::nullopt;
    }
    return TextOf(group, element);
}

std::vector<ExtraField> ServiceRecord::extraFields() const {
    std::vector<ExtraField> fields;
    for (pugi::xml_node child : pugi::xml_node(m_node).children(kExtraFieldElement)) {
        fields.push_back(
            {child.child_value(kExtraNameElement), child.child_value(kExtraValueElement)});
    }
    return fields;
}

}  // namespace vantor::registry
