// SPDX-License-Identifier: GPL-3.0-or-later
#include "E2EApp.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <pugixml.hpp>
#include <sstream>

#include "TestConfig.h"

namespace vantor::e2e {

AppDir::AppDir() {
    for (const char* sub : {"bin", "xdg", "run", "conf"}) {
        ::mkdir(m_dir.file(sub).c_str(), 0700);
    }
}

void AppDir::writeServices(const std::vector<ServiceEntry>& services) const {
    writeServiceFile(test::ServiceListXml(services));
}

void AppDir::writeServiceFile(const std::string& text) const {
    test::WriteFile(m_dir.file("conf/service.xml"), text);
}

void AppDir::writeSettings(const std::string& ini) const {
    test::WriteFile(m_dir.file("conf/SysInit.ini"), ini);
}

std::unique_ptr<test::Process> AppDir::start(const std::vector<std::string>& args,
                                             const std::string& tz) const {
    return startWithin({}, args, {{"TZ", tz}});
}

std::unique_ptr<test::Process> AppDir::startWithin(const std::vector<std::string>& wrapper,
                                                   const std::vector<std::string>& args,
                                                   std::map<std::string, std::string> env) const {
    std::vector<std::string> argv = wrapper;
    argv.push_back(VANTOR_LITE_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    env.insert({{"XDG_CONFIG_HOME", m_dir.file("xdg")},
                {"XDG_RUNTIME_DIR", m_dir.file("run")},
                {"HOME", m_dir.path()},
                {"TZ", "UTC"}});
    return std::make_unique<test::Process>(argv, m_dir.file("bin"), env);
}

std::vector<std::string> AppDir::linesOf(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& name : test::ListDir(m_dir.file("log"))) {
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        std::istringstream in(test::ReadFile(m_dir.file("log/" + name)));
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(!line.empty() && line.back() == '\r')
                << name << ": lines end with CR LF: " << line;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> AppDir::systemLogLines() const {
    return linesOf("system_");
}

std::vector<std::string> AppDir::alarmBackupLines() const {
    return linesOf("AlarmMsg_");
}

std::optional<std::string> AppDir::storedServiceStatus(const std::string& key) const {
    pugi::xml_document doc;
    const std::string text = test::ReadFile(m_dir.file("conf/service.xml"));
    if (!doc.load_buffer(text.data(), text.size())) {
        ADD_FAILURE() << "conf/service.xml does not parse:\n" << text;
        return std::nullopt;
    }
    for (pugi::xml_node record : doc.child("serviceList").children("record")) {
        if (key == record.attribute("key").value()) {
            return std::string(record.child_value("service_status"));
        }
    }
    return std::nullopt;
}

std::string FormEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9')) {
            out += c;
        } else if (byte == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string FormDecoded(const std::string& text) {
    auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c - 'a' + 10;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace vantor::e2e
