// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of service.xml: the input is the file. When the store
// opens it, every record is read as the monitor's timer and dispatch read
// it (the schedule fields in one pass, then the fields of its kind, the
// request group and the extra fields); the ways of reading one field must
// agree. Then each record gets a result, the store closes (writing the file)
// and must open again with the same records and those results.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "app/Words.h"
#include "registry/ServiceStore.h"

using namespace vantor;
using namespace vantor::registry;

namespace {

// Reads one field every way the record offers and checks that they agree.
std::optional<std::string_view> Field(const ServiceRecord& record, std::string_view element) {
    const std::optional<std::string_view> value = record.find(element);
    std::optional<std::string_view> inOnePass;
    record.findAll(&element, &inOnePass, 1);
    FUZZ_CHECK(value == inOnePass);
    FUZZ_CHECK(record.text(element) == value.value_or(std::string_view()));
    return value;
}

// What the dispatch of a record reads, in its order, for the record's kind.
std::size_t ReadAsDispatch(const ServiceRecord& record) {
    static constexpr std::string_view kSchedule[] = {"status", "schedule_by", "schedule_hour",
                                                     "schedule_minute"};
    std::optional<std::string_view> v[4];
    record.findAll(kSchedule, v, 4);
    for (int i = 0; i < 4; ++i) {
        FUZZ_CHECK(v[i] == record.find(kSchedule[i]));
    }
    std::size_t bytes = record.key().size();
    const std::string_view service = record.text("service");
    static constexpr std::string_view kCommon[] = {"service",        "ip",         "port",
                                                   "alarm_email",    "alarm_smpp", "alarm_httpsms",
                                                   "alarm_syslog",   "username",   "password",
                                                   "proxy_ip",       "proxy_port", "proxy_username",
                                                   "proxy_password", "url_method", "ftp_proxytype"};
    for (std::string_view element : kCommon) {
        bytes += Field(record, element).value_or("").size();
    }
    if (service == words::kUrl) {
        static constexpr std::string_view kRequest[] = {
            "referer", "cookie",        "headerData",     "userAgent",     "contentType",
            "accept",  "acceptCharSet", "acceptEncoding", "acceptLanguage"};
        for (std::string_view element : kRequest) {
            bytes += record.findUrlField(element).value_or("").size();
        }
        for (const ExtraField& field : record.extraFields()) {
            std::string posted = field.name + "=" + field.value;
            bytes += posted.size();
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = vantor::fuzz::TempDir().path() + "/service.xml";
    vantor::fuzz::WriteBytes(file, data, size);

    // One store at a time: each open store runs a writer thread.
    std::vector<std::string> keys;
    {
        ServiceStore store(file);
        if (!store.OpenServiceFile(true)) {
            // A file the store refuses is left as it was.
            FUZZ_CHECK(vantor::fuzz::ReadBytes(file) ==
                       std::string(reinterpret_cast<const char*>(data), size));
            return 0;
        }
        std::size_t visited = 0;
        store.forEachRecord([&](const ServiceRecord& record) {
            ++visited;
            keys.emplace_back(record.key());
            static_cast<void>(ReadAsDispatch(record));
        });
        FUZZ_CHECK(visited == store.recordCount());
        FUZZ_CHECK(store.records().size() == visited);
        for (const std::string& key : keys) {
            const std::optional<ServiceRecord> found = store.findRecord(key);
            FUZZ_CHECK(found && found->key() == key);
            FUZZ_CHECK(store.FindService(key) >= 0);
            FUZZ_CHECK(store.SetServiceResult(key, "Passed"));
        }
        FUZZ_CHECK(store.OpenServiceFile(false));
    }

    ServiceStore reopened(file);
    FUZZ_CHECK(reopened.OpenServiceFile(true));
    std::vector<std::string> keysAgain;
    reopened.forEachRecord([&](const ServiceRecord& record) {
        keysAgain.emplace_back(record.key());
        static_cast<void>(ReadAsDispatch(record));
    });
    FUZZ_CHECK(keysAgain == keys);
    for (const std::string& key : std::set<std::string>(keys.begin(), keys.end())) {
        const std::optional<ServiceRecord> found = reopened.findRecord(key);
        FUZZ_CHECK(found && found->find("service_status") == std::string_view("Passed"));
    }
    FUZZ_CHECK(reopened.OpenServiceFile(false));
    return 0;
}
