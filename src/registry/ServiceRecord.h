// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/ServiceFields.h"

namespace vantor::registry {

struct ServiceEntry;

// A read-only view of one record of the store. Valid until the store's
// document next changes.
class ServiceRecord final {
public:
    explicit ServiceRecord(const ServiceEntry* entry) : m_entry(entry) {}

    std::string_view key() const;

    // The service as the record holds it: every element it has (the URL
    // request group too, unless withRequest is false), its extra fields and
    // its key; the elements it lacks are marked so and keep their defaults.
    ServiceFields fields(bool withRequest = true) const;

    // One element's text; nullopt when the record lacks it. A request value
    // is looked for in the record's request group.
    std::optional<std::string_view> find(Element element) const;
    // Empty when the record lacks it.
    std::string_view text(Element element) const;
    // Several elements of the record itself in one pass: values[i] is the
    // text of the first element of elements[i], or nullopt.
    void findAll(const Element* elements, std::optional<std::string_view>* values,
                 std::size_t count) const;

    // The same by element name, for tools that look at a file as it is.
    std::optional<std::string_view> find(std::string_view element) const;
    void findAll(const std::string_view* names, std::optional<std::string_view>* values,
                 std::size_t count) const;
    std::string_view text(std::string_view element) const;
    // A child of the service_url group; nullopt when the group or the child
    // is missing.
    std::optional<std::string_view> findUrlField(std::string_view element) const;
    // The service_url_detail children, in document order.
    std::vector<ExtraField> extraFields() const;

private:
    const ServiceEntry* m_entry;
};

}  // namespace vantor::registry
