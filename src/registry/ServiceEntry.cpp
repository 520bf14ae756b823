// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceEntry.h"

#include <unordered_map>

#include "registry/ServiceElements.h"
#include "registry/ServiceXml.h"

namespace vantor::registry {

namespace {

// The element names of a record, kept once for all records.
const std::vector<std::string_view>& KnownNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        for (const ElementEntry& entry : Elements()) {
            out.emplace_back(entry.name);
        }
        for (const char* name : {kUrlGroupElement, kExtraFieldElement, kExtraNameElement,
                                 kExtraValueElement, kExtraIsFileElement}) {
            out.emplace_back(name);
        }
        return out;
    }();
    return names;
}

int KnownNameIndex(std::string_view name) {
    static const std::unordered_map<std::string_view, int> index = [] {
        std::unordered_map<std::string_view, int> out;
        const auto& names = KnownNames();
        for (std::size_t i = 0; i < names.size(); ++i) {
            out.emplace(names[i], static_cast<int>(i));
        }
        return out;
    }();
    const auto found = index.find(name);
    return found == index.end() ? -1 : found->second;
}

std::uint32_t Size32(std::size_t size) {
    return static_cast<std::uint32_t>(size);
}

// Keeps a name or a text in side.
void PutInSide(ServiceEntry& entry, std::string_view text, std::uint32_t& offset) {
    offset = Size32(entry.side.size());
    entry.side.append(text);
}

// Looks for the text of a leaf element, written as ">text</name>", in body
// from `from`; its offset, or npos.
std::size_t FindLeafText(std::string_view body, std::size_t from, std::string_view name,
                         std::string_view text) {
    for (std::size_t close = body.find("</", from); close != std::string_view::npos;
         close = body.find("</", close + 2)) {
        if (body.compare(close + 2, name.size(), name) != 0 ||
            close + 2 + name.size() >= body.size() || body[close + 2 + name.size()] != '>') {
            continue;
        }
        if (close >= text.size() + 1 && body.compare(close - text.size(), text.size(), text) == 0 &&
            body[close - text.size() - 1] == '>') {
            return close - text.size();
        }
        return std::string_view::npos;  // the element's text was escaped
    }
    return std::string_view::npos;
}

}  // namespace

std::string_view ServiceEntry::name(const Item& item) const {
    if (item.nameSize == kKnownName) {
        return KnownNames()[item.name];
    }
    return std::string_view(side).substr(item.name, item.nameSize);
}

int ServiceEntry::child(std::size_t parent, std::string_view wanted) const {
    int found = -1;
    forEachChild(parent, [&](std::size_t i, const Item& item) {
        found = name(item) == wanted ? static_cast<int>(i) : -1;
        return found < 0;
    });
    return found;
}

void xml::IndexEntry(ServiceEntry& entry, pugi::xml_node node) {
    entry.items.clear();
    entry.side.clear();
    entry.hasKey = false;
    const std::string_view body = entry.body;
    if (const pugi::xml_attribute key = node.attribute(kKeyAttribute)) {
        entry.hasKey = true;
        const std::string_view value = key.value();
        const std::string start = std::string(" ") + kKeyAttribute + "=\"";
        const std::size_t at = body.find(start);
        const std::size_t from = at == std::string_view::npos ? at : at + start.size();
        if (from != std::string_view::npos && body.compare(from, value.size(), value) == 0 &&
            from + value.size() < body.size() && body[from + value.size()] == '"') {
            entry.key.value = Size32(from);
            entry.key.size = Size32(value.size());
        } else {
            PutInSide(entry, value, entry.key.value);
            entry.key.size = Size32(value.size()) | ServiceEntry::kInSide;
        }
    }
    std::size_t cursor = 0;
    const auto add = [&](pugi::xml_node element, std::uint16_t parent) {
        ServiceEntry::Item item;
        item.parent = parent;
        const std::string_view name = element.name();
        if (const int known = KnownNameIndex(name); known >= 0) {
            item.name = static_cast<std::uint32_t>(known);
            item.nameSize = ServiceEntry::kKnownName;
        } else {
            PutInSide(entry, name, item.name);
            item.nameSize = static_cast<std::uint16_t>(name.size());
        }
        const std::string_view text = element.child_value();
        const std::size_t at =
            element.first_child() ? std::string_view::npos : FindLeafText(body, cursor, name, text);
        if (at != std::string_view::npos) {
            item.value = Size32(at);
            item.size = Size32(text.size());
            cursor = at + text.size();
        } else {
            PutInSide(entry, text, item.value);
            item.size = Size32(text.size()) | ServiceEntry::kInSide;
        }
        entry.items.push_back(item);
    };
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        // A name too long for an item is no element of a record.
        if (child.type() != pugi::node_element ||
            std::string_view(child.name()).size() >= ServiceEntry::kKnownName ||
            entry.items.size() >= ServiceEntry::kKnownName - 1) {
            continue;
        }
        add(child, 0);
        const auto parent = static_cast<std::uint16_t>(entry.items.size());
        for (pugi::xml_node inner = child.first_child(); inner; inner = inner.next_sibling()) {
            if (inner.type() == pugi::node_element &&
                std::string_view(inner.name()).size() < ServiceEntry::kKnownName) {
                add(inner, parent);
            }
        }
    }
    entry.side.shrink_to_fit();
    entry.items.shrink_to_fit();
}

bool ReplaceLeafText(ServiceEntry& entry, std::size_t index, std::string_view text) {
    ServiceEntry::Item& item = entry.items[index];
    if ((item.size & ServiceEntry::kInSide) != 0 || !xml::WrittenAsItReads(text)) {
        return false;
    }
    const std::uint32_t at = item.value;
    const std::uint32_t old = item.size;
    entry.body.replace(at, old, text);
    const auto shift = [&](ServiceEntry::Item& other) {
        if ((other.size & ServiceEntry::kInSide) == 0 && other.value > at) {
            other.value = other.value - old + Size32(text.size());
        }
    };
    for (ServiceEntry::Item& other : entry.items) {
        shift(other);
    }
    shift(entry.key);
    item.size = Size32(text.size());
    return true;
}

}  // namespace vantor::registry
