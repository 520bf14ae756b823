#include "registry/ServiceRecord.h"

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

}  // namespace

std::string_view ServiceRecord::key() const {
    return m_node.attribute("key").value();
}

std::optional<std::string_view> ServiceRecord::find(std::string_view element) const {
    const pugi::xml_node child = ChildNamed(m_node, element);
    if (!child) {
        return std::nullopt;
    }
    return std::string_view(child.child_value());
}

void ServiceRecord::findAll(const std::string_view* names, std::optional<std::string_view>* values,
                            std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
        values[i].reset();
    }
    std::size_t left = count;
    for (pugi::xml_node child = m_node.first_child(); child && left > 0;
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
    const pugi::xml_node group = ChildNamed(m_node, "service_url");
    if (!group) {
        return std::nullopt;
    }
    const pugi::xml_node child = ChildNamed(group, element);
    if (!child) {
        return std::nullopt;
    }
    return std::string_view(child.child_value());
}

std::vector<ExtraField> ServiceRecord::extraFields() const {
    std::vector<ExtraField> fields;
    for (pugi::xml_node child : m_node.children("service_url_detail")) {
        fields.push_back({child.child_value("fieldname"), child.child_value("fieldvalue")});
    }
    return fields;
}

void ServiceRecord::readTls(ServiceFields& f) const {
    if (const auto tls = find("tls")) {
        f.tls = std::string(*tls);
    }
    if (const auto verify = find("tls_verify")) {
        f.tlsVerify = std::string(*verify);
    }
}

}  // namespace vantor::registry
