// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Inside registry/ only.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::registry {

// One child of serviceList held compactly: the bytes a save writes for it,
// and for a record, where the names and texts of its elements are. A large
// list takes a third of the memory a document tree of it takes, and is
// written by copying these bytes.
struct ServiceEntry {
    enum class Kind : std::uint8_t {
        Record,  // an element
        Markup,  // a comment or processing instruction
        Text,    // a text or CDATA section, after which nothing is indented
    };
    // An element child of the record, or a child of one of those.
    struct Item {
        std::uint32_t value = 0;     // offset of the text in body, or in side
        std::uint32_t size = 0;      // its length; kInSide set: it is in side
        std::uint32_t name = 0;      // offset of the name in side, or a known name's index
        std::uint16_t nameSize = 0;  // kKnownName: name indexes the known names
        std::uint16_t parent = 0;    // 0: the record; k: items[k - 1]
    };
    static constexpr std::uint32_t kInSide = std::uint32_t{1} << 31;
    static constexpr std::uint16_t kKnownName = 0xFFFF;

    // As written, without the indent and the line break around it; a CR
    // of a text is written as a character reference already.
    std::string body;
    // The names and texts that body does not hold as they read.
    std::string side;
    std::vector<Item> items;
    Item key;  // the key attribute; its name is unused
    bool hasKey = false;
    Kind kind = Kind::Record;

    std::string_view text(const Item& item) const {
        const std::string& in = (item.size & kInSide) != 0 ? side : body;
        return std::string_view(in).substr(item.value, item.size & ~kInSide);
    }
    std::string_view name(const Item& item) const;
    std::string_view keyText() const { return hasKey ? text(key) : std::string_view(); }
    // Visits the children of the record (parent 0) or of items[parent - 1]
    // in document order, with their index, until visit returns false. Items
    // come in document order: the children of an item follow it, those of
    // the record are spread among them.
    template <typename Visit>
    void forEachChild(std::size_t parent, Visit&& visit) const {
        for (std::size_t i = parent; i < items.size(); ++i) {
            if (items[i].parent == parent) {
                if (!visit(i, items[i])) {
                    return;
                }
            } else if (parent != 0) {
                return;  // past the item's children
            }
        }
    }
    // The first child with this name; -1 when there is none.
    int child(std::size_t parent, std::string_view name) const;
};

// service.xml without its records' tree: the text before the records and
// after them, and the children of serviceList.
struct ServiceList {
    std::string head;  // up to the start tag of serviceList and its own text
    std::string tail;  // from its end tag
    bool listHasText = false;
    std::vector<ServiceEntry> entries;
};

// Sets the text of a leaf element in place, when the text is written as it
// reads and the element's text is in body; false when it cannot (then the
// record is changed through its tree).
bool ReplaceLeafText(ServiceEntry& entry, std::size_t index, std::string_view text);

}  // namespace vantor::registry
