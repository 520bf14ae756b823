// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <pugixml.hpp>
#include <random>
#include <thread>

#include "app/AtomicFile.h"
#include "app/EventLoop.h"
#include "registry/ServiceStore.h"
#include "support/Gate.h"
#include "support/ServiceListFile.h"
#include "support/TempDir.h"

namespace vantor::registry {
namespace {

using namespace std::chrono_literals;

using test::ReadFile;
using test::WriteFile;

ServiceFields Ping(const std::string& host) {
    ServiceFields f;
    f.service = "Ping";
    f.ip = host;
    f.port = "0";
    f.scheduleBy = "Minutely";
    f.scheduleHour = "00";
    f.scheduleMinute = "5";
    f.alarmEmail = "y";
    return f;
}

ServiceFields Url(const std::string& url) {
    ServiceFields f;
    f.service = "URL";
    f.ip = url;
    f.port = "80";
    f.username = "web";
    f.password = "secret";
    f.scheduleBy = "Hourly";
    f.scheduleHour = "00";
    f.scheduleMinute = "15";
    f.proxyPort = "0";
    f.urlMethod = "Get";
    return f;
}

// A Ping record as an operator's file holds it.
test::ServiceEntry Entry(const std::string& host) {
    test::ServiceEntry e;
    e.service = "Ping";
    e.ip = host;
    e.port = "0";
    return e;
}

// The result the file holds for a key, as another reader sees it.
std::string StoredResult(const std::string& path, const std::string& key) {
    pugi::xml_document doc;
    doc.load_file(path.c_str());
    for (pugi::xml_node r : doc.child("serviceList").children("record")) {
        if (key == r.attribute("key").value()) {
            return std::string(r.child_value("service_status"));
        }
    }
    return std::string("<none>");
}

std::vector<std::string> ChildNames(pugi::xml_node node) {
    std::vector<std::string> names;
    for (pugi::xml_node c : node.children()) {
        names.emplace_back(c.name());
    }
    return names;
}

// `count` Ping records at addresses that start with `prefix` ("10.1.").
std::vector<test::ServiceEntry> PingEntries(int count, const std::string& prefix) {
    std::vector<test::ServiceEntry> entries(count);
    for (int i = 0; i < count; ++i) {
        entries[i].service = "Ping";
        entries[i].ip = prefix + std::to_string(i / 250) + "." + std::to_string(i % 250);
        entries[i].port = "0";
    }
    return entries;
}

class ServiceStoreTest : public ::testing::Test {
protected:
    ServiceStoreTest() {
        ::mkdir(dir.file("conf").c_str(), 0700);
        EXPECT_TRUE(store.CreateServiceFile().ok());
        EXPECT_TRUE(store.OpenServiceFile(true).ok());
    }

    // The file as another reader sees it.
    pugi::xml_node reloaded() {
        EXPECT_TRUE(
            disk.load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata_single));
        return disk.child("serviceList");
    }

    test::TempDir dir;
    std::string path = dir.file("conf/service.xml");
    ServiceStore store{path};
    pugi::xml_document disk;
};

TEST_F(ServiceStoreTest, NewFileIsTheExactTemplateOwnerOnly) {
    ServiceStore fresh(dir.file("conf/other.xml"));
    EXPECT_FALSE(fresh.ServiceFileExists());
    ASSERT_TRUE(fresh.CreateServiceFile().ok());
    EXPECT_TRUE(fresh.ServiceFileExists());
    EXPECT_FALSE(fresh.isActive()) << "creating leaves the document unloaded";
    EXPECT_EQ(ReadFile(dir.file("conf/other.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><!DOCTYPE service>"
              "<serviceList></serviceList>");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("conf/other.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(fresh.OpenServiceFile(true).ok());
    EXPECT_EQ(fresh.recordCount(), 0u);
}

TEST_F(ServiceStoreTest, InsertWritesTwentyElementsInOrderAndSavesAtOnce) {
    ASSERT_TRUE(store.InsertService(Ping("host-a")));
    const pugi::xml_node record = reloaded().child("record");
    EXPECT_STREQ(record.attribute("key").value(), "Ping:host-a:0");
    EXPECT_EQ(ChildNames(record), (std::vector<std::string>{"service",        "ip",
                                                            "port",           "username",
                                                            "password",       "schedule_by",
                                                            "schedule_hour",  "schedule_minute",
                                                            "service_status", "status",
                                                            "proxy_ip",       "proxy_port",
                                                            "proxy_username", "proxy_password",
                                                            "url_method",     "ftp_proxytype",
                                                            "alarm_email",    "alarm_smpp",
                                                            "alarm_httpsms",  "alarm_syslog"}));
    EXPECT_STREQ(record.child_value("service_status"), "Unknown");
    EXPECT_STREQ(record.child_value("status"), "Start");
    EXPECT_STREQ(record.child_value("alarm_email"), "y");
    EXPECT_TRUE(disk.child("serviceList").child("record").attribute("key").next_attribute().empty())
        << "key is the only attribute";
    // The declaration and document type survive a rewrite.
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>", 0), 0u);
    EXPECT_NE(text.find("<!DOCTYPE service>"), std::string::npos);
}

TEST_F(ServiceStoreTest, UrlInsertAddsTheRequestGroupAndExtraFieldsFollowIt) {
    UrlRequestFields req;
    req.referer = "http://ref/";
    req.cookie = "a=1";
    req.acceptLanguage = "en";
    ASSERT_TRUE(store.InsertURLService(Url("http://h/x"), req));
    const std::string key = "URL:http://h/x:80";
    ASSERT_TRUE(store.ReplaceExtraFields(key, {{"q", "1"}, {"r", "two words"}}));

    pugi::xml_node record = reloaded().child("record");
    auto names = ChildNames(record);
    ASSERT_EQ(names.size(), 23u);
    EXPECT_EQ(names[20], "service_url");
    EXPECT_EQ(names[21], "service_url_detail");
    EXPECT_EQ(
        ChildNames(record.child("service_url")),
        (std::vector<std::string>{"referer", "cookie", "headerData", "userAgent", "contentType",
                                  "accept", "acceptCharSet", "acceptEncoding", "acceptLanguage"}));
    EXPECT_EQ(ChildNames(record.child("service_url_detail")),
              (std::vector<std::string>{"fieldname", "fieldvalue", "isFile"}));
    EXPECT_STREQ(record.child("service_url_detail").child_value("isFile"), "n");

    const auto view = store.findRecord(key);
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->findUrlField("cookie"), "a=1");
    EXPECT_EQ(view->findUrlField("headerData"), "");
    EXPECT_EQ(view->extraFields(), (std::vector<ExtraField>{{"q", "1"}, {"r", "two words"}}));

    // An update with an empty list leaves no extra field behind.
    ASSERT_TRUE(store.ReplaceExtraFields(key, {}));
    EXPECT_FALSE(reloaded().child("record").child("service_url_detail"));
}

TEST_F(ServiceStoreTest, TheLastOfTwoEqualKeysIsTheOneEveryOperationReaches) {
    ServiceFields first = Ping("dup");
    first.username = "first";
    ServiceFields second = Ping("dup");
    second.username = "second";
    ASSERT_TRUE(store.InsertService(Ping("other")));
    ASSERT_TRUE(store.InsertService(first));
    ASSERT_TRUE(store.InsertService(second));
    EXPECT_EQ(store.FindService("Ping:dup:0"), 2);
    EXPECT_EQ(store.FindService("ping:dup:0"), -1) << "keys compare case-sensitively";
    EXPECT_EQ(store.findRecord("Ping:dup:0")->text("username"), "second");

    ASSERT_TRUE(store.SetServiceResult("Ping:dup:0", "Failed"));
    ASSERT_TRUE(store.SetServiceRunState("Ping:dup:0", "Stop"));
    auto records = store.records();
    EXPECT_EQ(records[1].text("service_status"), "Unknown");
    EXPECT_EQ(records[2].text("service_status"), "Failed");
    EXPECT_EQ(records[2].text("status"), "Stop");

    ASSERT_TRUE(store.DeleteService("Ping:dup:0"));
    EXPECT_EQ(store.FindService("Ping:dup:0"), 1);
    EXPECT_EQ(store.findRecord("Ping:dup:0")->text("username"), "first");
    EXPECT_EQ(reloaded().select_nodes("record").size(), 2u);
}

TEST_F(ServiceStoreTest, UpdateRekeysResetsTheResultAndKeepsElementPositions) {
    ASSERT_TRUE(store.InsertService(Ping("old-host")));
    ASSERT_TRUE(store.SetServiceResult("Ping:old-host:0", "Failed"));
    ServiceFields changed = Ping("new-host");
    changed.runState = "Stop";
    changed.port = "7";
    ASSERT_TRUE(store.UpdateService("Ping:old-host:0", changed));
    EXPECT_EQ(store.FindService("Ping:old-host:0"), -1);
    const auto rec = store.findRecord("Ping:new-host:7");
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->text("service_status"), "Unknown");
    EXPECT_EQ(rec->text("status"), "Stop");
    EXPECT_EQ(ChildNames(reloaded().child("record"))[1], "ip");

    // An update of a key that is not there changes nothing and succeeds.
    const std::string before = ReadFile(path);
    EXPECT_TRUE(store.UpdateService("Ping:ghost:0", Ping("x")));
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(ServiceStoreTest, UpdateCreatesMissingElementsAtTheEndAndNeverDropsOthers) {
    WriteFile(path,
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><!DOCTYPE service>"
              "<serviceList><record key=\"URL:http://h:80\"><ip>http://h</ip>"
              "<service>URL</service><service_url><cookie>c</cookie></service_url>"
              "</record></serviceList>");
    ASSERT_TRUE(store.OpenServiceFile(true).ok());
    ServiceFields f = Ping("h2");
    ASSERT_TRUE(store.UpdateService("URL:http://h:80", f));
    auto names = ChildNames(reloaded().child("record"));
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names[0], "ip");
    EXPECT_EQ(names[1], "service");
    EXPECT_EQ(names[2], "service_url") << "kept in place although a Ping does not use it";
    EXPECT_EQ(names[3], "port");
    EXPECT_EQ(names.size(), 21u);

    UrlRequestFields req;
    req.userAgent = "probe";
    ASSERT_TRUE(store.UpdateURLService("Ping:h2:0", Url("http://h3"), req));
    pugi::xml_node group = reloaded().child("record").child("service_url");
    EXPECT_STREQ(group.child_value("cookie"), "");
    EXPECT_STREQ(group.child_value("userAgent"), "probe");
    EXPECT_EQ(ChildNames(group).front(), "cookie") << "existing children keep their place";
}

// The TLS elements follow element 20 once a record needs them; a record
// that never did saves as it always has.
TEST_F(ServiceStoreTest, TlsElementsAreWrittenOnlyWhenSetAndThenKept) {
    ServiceFields imap = Ping("mail.example");
    imap.service = "IMAP";
    imap.port = "143";
    ASSERT_TRUE(store.InsertService(imap));
    const std::string before = ReadFile(path);
    EXPECT_EQ(ChildNames(reloaded().child("record")).size(), 20u);
    ASSERT_TRUE(store.UpdateService("IMAP:mail.example:143", imap));
    EXPECT_EQ(ReadFile(path), before);

    imap.tls = "implicit";
    imap.tlsVerify = "n";
    imap.port = "993";
    ASSERT_TRUE(store.UpdateService("IMAP:mail.example:143", imap));
    pugi::xml_node record = reloaded().child("record");
    const std::vector<std::string> names = ChildNames(record);
    ASSERT_EQ(names.size(), 22u);
    EXPECT_EQ(names[20], "tls");
    EXPECT_EQ(names[21], "tls_verify");
    EXPECT_STREQ(record.child_value("tls"), "implicit");
    EXPECT_STREQ(record.child_value("tls_verify"), "n");

    imap.tls.clear();
    imap.tlsVerify = "y";
    ASSERT_TRUE(store.UpdateService("IMAP:mail.example:993", imap));
    record = reloaded().child("record");
    EXPECT_STREQ(record.child_value("tls"), "");
    EXPECT_STREQ(record.child_value("tls_verify"), "y");

    ServiceFields pop3 = imap;
    pop3.service = "POP3";
    pop3.tls = "starttls";
    ASSERT_TRUE(store.InsertService(pop3));
    EXPECT_STREQ(reloaded().last_child().child_value("tls"), "starttls");
    EXPECT_FALSE(reloaded().last_child().child("tls_verify"));
}

TEST_F(ServiceStoreTest, DeletingAMissingKeySaysSoAndWritesNothing) {
    ASSERT_TRUE(store.InsertService(Ping("a")));
    const std::string before = ReadFile(path);
    const Expected<bool> deleted = store.DeleteService("Ping:b:0");
    ASSERT_TRUE(deleted) << deleted.error();
    EXPECT_FALSE(*deleted) << "no record was there to delete";
    EXPECT_EQ(ReadFile(path), before);
}

// Also across a second run that saves again: line ends inside a value stay
// what they were, CR included.
TEST_F(ServiceStoreTest, AwkwardValuesReadBackUnchangedAfterReopening) {
    const std::vector<std::string> values = {
        " ",           "  padded  ", "<a&b>\"'",   "]]>",    "tab\there",
        "line\nbreak", "ünïcödé €",  "semi;colon", "&amp;",  "",
        "x\r\ny",      "cr\ronly",   "\r",         "\n\r\n", "&#13;"};
    for (std::size_t i = 0; i < values.size(); ++i) {
        ServiceFields f = Ping("h" + std::to_string(i));
        f.password = values[i];
        ASSERT_TRUE(store.InsertService(f)) << i;
    }
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        ServiceStore again(path);
        ASSERT_TRUE(again.OpenServiceFile(true).ok()) << ReadFile(path);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto rec = again.findRecord("Ping:h" + std::to_string(i) + ":0");
            ASSERT_TRUE(rec.has_value());
            EXPECT_EQ(rec->text("password"), values[i]) << i;
        }
        ASSERT_TRUE(again.SetServiceResult("Ping:h0:0", "Passed"));
    }
}

// An operator's editor saving the file (by a temporary file and a rename,
// or in place) while results are written behind all the time: no edit is
// ever lost. Each save adds a record; every one of them ends in the file.
// VANTOR_EDIT_ROUNDS sets how many saves (40 by default).
TEST_F(ServiceStoreTest, AnEditorSavingWhileResultsAreWrittenLosesNoEdit) {
    const char* rounds = std::getenv("VANTOR_EDIT_ROUNDS");
    const int kEdits = rounds != nullptr ? std::atoi(rounds) : 40;
    constexpr int kRecords = 3000;
    const std::vector<test::ServiceEntry> entries = PingEntries(kRecords, "10.2.");
    WriteFile(path, test::ServiceListXml(entries));
    app::EventLoop owner;
    store.setOwner(&owner);
    int unreadable = 0;
    store.setChangedOnDiskHandler(
        [&] { owner.post([&] { unreadable += store.TakeChangesOnDisk().ok() ? 0 : 1; }); });
    ASSERT_TRUE(store.OpenServiceFile(true).ok());
    store.setResultWriteInterval(std::chrono::milliseconds(5));

    std::atomic<bool> done{false};
    std::thread editor([&] {
        std::mt19937 random(7);
        for (int i = 0; i < kEdits; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 30));
            std::string text = ReadFile(path);
            const std::size_t end = text.rfind("</serviceList>");
            if (end == std::string::npos) {
                --i;  // caught between two of ours: read again
                continue;
            }
            const std::string key = "Ping:edit" + std::to_string(i) + ":0";
            text.insert(end, "<record key=\"" + key + "\"><service>Ping</service></record>\n");
            if (i % 2 == 0) {
                const std::string tmp = path + ".editor";
                WriteFile(tmp, text);
                ::rename(tmp.c_str(), path.c_str());
            } else {
                // In place, as some editors save: over the old bytes, then cut.
                const int fd = ::open(path.c_str(), O_WRONLY);
                [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
                [[maybe_unused]] const int cut = ::ftruncate(fd, static_cast<off_t>(text.size()));
                ::close(fd);
            }
        }
        done = true;
    });
    std::mt19937 random(11);
    for (int n = 0; !done; ++n) {
        ASSERT_TRUE(store.SetServiceResult(entries[random() % kRecords].key(),
                                           n % 2 == 0 ? "Passed" : "Failed"));
        owner.runUntil([] { return false; }, std::chrono::milliseconds(1));
    }
    editor.join();
    // The last save taken in, and written with the results.
    EXPECT_TRUE(test::Eventually(
        [&] {
            owner.runUntil([] { return false; }, std::chrono::milliseconds(10));
            return store.findRecord("Ping:edit" + std::to_string(kEdits - 1) + ":0").has_value();
        },
        10s));
    ASSERT_TRUE(store.flush().ok());
    const std::string final = ReadFile(path);
    int lost = 0;
    for (int i = 0; i < kEdits; ++i) {
        lost += final.find("Ping:edit" + std::to_string(i) + ":0") == std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(lost, 0) << "of " << kEdits << " edits; unreadable versions seen: " << unreadable;
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
}

// A half-written save of the operator's stops nothing: it is not written
// over, its failure is told once, and the valid save after it is taken in
// and written with the results at once.
TEST_F(ServiceStoreTest, AMalformedSaveIsToldOnceAndTheValidOneAfterItIsTakenIn) {
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
    WriteFile(path, test::ServiceListXml({Entry("a"), Entry("b")}));
    app::EventLoop owner;
    store.setOwner(&owner);
    std::vector<std::string> told;
    store.setChangedOnDiskHandler([&] {
        owner.post([&] {
            if (const Status taken = store.TakeChangesOnDisk(); !taken) {
                told.push_back(taken.error());
            }
        });
    });
    ASSERT_TRUE(store.OpenServiceFile(true).ok());
    store.setResultWriteInterval(std::chrono::milliseconds(50));
    const auto resultsFor = [&](std::chrono::milliseconds span, const char* word) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            ASSERT_TRUE(store.SetServiceResult("Ping:a:0", word));
            owner.runUntil([] { return false; }, std::chrono::milliseconds(10));
        }
    };
    const std::string half = test::ServiceListXml({Entry("a"), Entry("b"), Entry("c")});
    WriteFile(path, half.substr(0, half.size() / 2));
    resultsFor(500ms, "Failed");
    EXPECT_EQ(ReadFile(path), half.substr(0, half.size() / 2)) << "never written over";
    EXPECT_EQ(told.size(), 1u) << "told once for the one bad version";

    WriteFile(path, half);
    const auto saved = std::chrono::steady_clock::now();
    EXPECT_TRUE(test::Eventually(
        [&] {
            owner.runUntil([] { return false; }, std::chrono::milliseconds(10));
            return StoredResult(path, "Ping:a:0") == "Failed";
        },
        2s))
        << "the results reach the file again within 2 s of the valid save";
    EXPECT_LT(std::chrono::steady_clock::now() - saved, 2s);
    EXPECT_TRUE(store.findRecord("Ping:c:0").has_value()) << "the added record is in";
    EXPECT_EQ(told.size(), 1u);
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
}

// A result that the record holds already changes nothing and writes
// nothing; a large list is written less often.
TEST_F(ServiceStoreTest, AnUnchangedResultWritesNothingAndLargeListsWaitLonger) {
    store.setResultWriteInterval(std::chrono::milliseconds(20));
    ASSERT_TRUE(store.InsertService(Ping("a")));
    ASSERT_TRUE(store.SetServiceResult("Ping:a:0", "Passed"));
    ASSERT_TRUE(test::Eventually([&] { return StoredResult(path, "Ping:a:0") == "Passed"; }));
    std::this_thread::sleep_for(100ms);
    const auto written = app::StampOf(path);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(store.SetServiceResult("Ping:a:0", "Passed"));
        std::this_thread::sleep_for(40ms);
    }
    EXPECT_EQ(app::StampOf(path), written) << "the same result again writes nothing";
    EXPECT_EQ(store.resultWriteInterval(), std::chrono::milliseconds(20));

    std::vector<test::ServiceEntry> many(25000);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i] = Entry("m" + std::to_string(i));
    }
    WriteFile(path, test::ServiceListXml(many));
    ASSERT_TRUE(store.reloadNow().ok());
    EXPECT_EQ(store.resultWriteInterval(), std::chrono::milliseconds(40))
        << "one interval for each 10,000 records";
}

// What an XML 1.0 file cannot hold is refused, by whatever change it comes,
// and the file is not written: a file that others cannot read never is. A
// control character read from an older file is left out when it is saved.
TEST_F(ServiceStoreTest, ACharacterXmlCannotHoldIsRefusedAndNeverWritten) {
    ASSERT_TRUE(store.InsertService(Ping("a")));
    const std::string before = ReadFile(path);
    for (const std::string& bad : {std::string("\x01\x1f control"), std::string("esc \x1b[2J"),
                                   std::string("not \xff utf-8"), std::string("\xef\xbf\xbe")}) {
        ServiceFields f = Ping("b");
        f.password = bad;
        const Status inserted = store.InsertService(f);
        ASSERT_FALSE(inserted.ok()) << bad;
        EXPECT_NE(inserted.error().find("password holds "), std::string::npos) << inserted.error();
        EXPECT_FALSE(store.UpdateService("Ping:a:0", f).ok());
        UrlRequestFields request;
        request.headerData = bad;
        EXPECT_FALSE(store.InsertURLService(Url("http://x/"), request).ok());
        EXPECT_FALSE(store.ReplaceExtraFields("Ping:a:0", {{"n", bad}}).ok());
        EXPECT_FALSE(store.SetServiceRunState("Ping:a:0", bad).ok());
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(store.recordCount(), 1u);

    WriteFile(path,
              "<serviceList><record key=\"Ping:c&#16;&#9;&#13;:0\"><password>one&#1;two</password>"
              "</record></serviceList>");
    ASSERT_TRUE(store.reloadNow().ok());
    // Read as blanks, as in details. What is held is what is written: the
    // same key before the save and after it, with the tab and the CR that
    // XML can hold.
    const std::optional<ServiceRecord> held = store.findRecord("Ping:c \t\r:0");
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(held->find("password"), std::string_view("one two"));
    EXPECT_FALSE(store
                     .SetServiceResult("Ping:c \t\r:0",
                                       "Pass\x01"
                                       "ed")
                     .ok());
    ASSERT_TRUE(store.SetServiceResult("Ping:c \t\r:0", "Passed").ok());
    ASSERT_TRUE(store.flush().ok());
    ServiceStore reopened(path);
    ASSERT_TRUE(reopened.OpenServiceFile(true).ok());
    EXPECT_TRUE(reopened.findRecord("Ping:c \t\r:0").has_value()) << ReadFile(path);
    pugi::xml_document strict;
    ASSERT_TRUE(strict.load_string(ReadFile(path).c_str()));
    // Only the references XML 1.0 allows: the tab and the CR of the key.
    const std::string written = ReadFile(path);
    for (std::size_t at = written.find("&#"); at != std::string::npos;
         at = written.find("&#", at + 1)) {
        const std::string ref = written.substr(at, written.find(';', at) - at + 1);
        EXPECT_TRUE(ref == "&#09;" || ref == "&#13;") << ref << " in " << written;
    }
    EXPECT_EQ(std::string(strict.child("serviceList").child("record").child_value("password")),
              "one two");
}

// Line ends in the markup around the values are not values: a document type
// written with CR LF keeps them and the file stays readable.
TEST_F(ServiceStoreTest, ADocumentTypeWithLineEndsStaysAsItWas) {
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
    const std::string doctype =
        "<!DOCTYPE service [\r\n<!ATTLIST record note CDATA \"x]>\r\">\r\n]>";
    WriteFile(path, "<?xml version=\"1.0\"?>" + doctype + "<serviceList></serviceList>");
    ServiceStore edited(path);
    ASSERT_TRUE(edited.OpenServiceFile(true).ok());
    ServiceFields f = Ping("h");
    f.password = "a\r\nb";
    ASSERT_TRUE(edited.InsertService(f));
    ServiceStore again(path);
    ASSERT_TRUE(again.OpenServiceFile(true).ok()) << ReadFile(path);
    EXPECT_EQ(again.findRecord("Ping:h:0")->text("password"), "a\r\nb");
    EXPECT_NE(ReadFile(path).find(doctype), std::string::npos) << ReadFile(path);
}

TEST_F(ServiceStoreTest, AFailedSaveKeepsTheChangeForTheNextSave) {
    ASSERT_TRUE(store.InsertService(Ping("a")));
    ASSERT_TRUE(store.InsertService(Ping("b")));
    const std::string before = ReadFile(path);
    const std::string away = dir.file("conf-away");
    ASSERT_EQ(::rename(dir.file("conf").c_str(), away.c_str()), 0);
    const Status saved = store.SetServiceRunState("Ping:a:0", "Stop");
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.error().empty());
    EXPECT_EQ(store.findRecord("Ping:a:0")->text("status"), "Stop");
    ASSERT_EQ(::rename(away.c_str(), dir.file("conf").c_str()), 0);
    EXPECT_EQ(ReadFile(path), before) << "the old file is whole";

    ASSERT_TRUE(store.SetServiceRunState("Ping:b:0", "Stop"));
    ServiceStore again(path);
    ASSERT_TRUE(again.OpenServiceFile(true).ok());
    EXPECT_EQ(again.findRecord("Ping:a:0")->text("status"), "Stop");
    EXPECT_EQ(again.findRecord("Ping:b:0")->text("status"), "Stop");
    EXPECT_EQ(test::ListDir(dir.file("conf")), std::vector<std::string>{"service.xml"})
        << "no temporary file is left behind";
}

// The document goes to the temporary file piece by piece: a disk that fills
// in the middle of it (here a file size limit) fails the save and leaves the
// old file whole and no piece of the new one behind.
TEST_F(ServiceStoreTest, ADiskThatFillsInTheMiddleOfASaveLeavesTheOldFileWhole) {
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(store.InsertService(Ping("host" + std::to_string(i))));
    }
    const std::string before = ReadFile(path);
    ASSERT_GT(before.size(), 4096u);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = before.size() / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Status saved = store.SetServiceRunState("Ping:host7:0", "Stop");
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().find("Cannot write"), std::string::npos) << saved.error();
    EXPECT_NE(saved.error().find(path), std::string::npos) << saved.error();
    EXPECT_EQ(ReadFile(path), before) << "the old file is whole";
    EXPECT_EQ(test::ListDir(dir.file("conf")), std::vector<std::string>{"service.xml"});

    ASSERT_TRUE(store.SetServiceRunState("Ping:host8:0", "Stop"));
    ServiceStore again(path);
    ASSERT_TRUE(again.OpenServiceFile(true).ok());
    EXPECT_EQ(again.recordCount(), 40u);
    EXPECT_EQ(again.findRecord("Ping:host7:0")->text("status"), "Stop");
}

// Results change the document at once and reach the file through the
// writer thread; a write that fails is told and made again with the next
// result; closing writes what the writer has not.
TEST_F(ServiceStoreTest, ResultsReachTheFileThroughTheWriterWhichTellsAndRetriesAFailedWrite) {
    std::mutex mutex;
    std::vector<std::string> failures;
    store.setWriteFailedHandler([&](const std::string& error) {
        std::lock_guard lock(mutex);
        failures.push_back(error);
    });
    store.setResultWriteInterval(std::chrono::milliseconds(50));
    auto stored = [&](const std::string& key) { return StoredResult(path, key); };
    ASSERT_TRUE(store.InsertService(Ping("a")));
    ASSERT_TRUE(store.InsertService(Ping("b")));
    ASSERT_TRUE(store.SetServiceResult("Ping:a:0", "Failed"));
    EXPECT_EQ(store.findRecord("Ping:a:0")->text("service_status"), "Failed");
    EXPECT_TRUE(test::Eventually([&] { return stored("Ping:a:0") == "Failed"; }));

    const std::string away = dir.file("conf-away");
    ASSERT_EQ(::rename(dir.file("conf").c_str(), away.c_str()), 0);
    ASSERT_TRUE(store.SetServiceResult("Ping:b:0", "Passed"));
    EXPECT_TRUE(test::Eventually([&] {
        std::lock_guard lock(mutex);
        return !failures.empty();
    }));
    // The writer tries again, with every result and after each interval,
    // and tells nothing more until a write succeeds.
    for (const char* word : {"Failed", "Passed", "Failed", "Passed"}) {
        ASSERT_TRUE(store.SetServiceResult("Ping:b:0", word));
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
    }
    ASSERT_EQ(::rename(away.c_str(), dir.file("conf").c_str()), 0);
    ASSERT_TRUE(store.SetServiceResult("Ping:a:0", "Passed"));
    EXPECT_TRUE(test::Eventually([&] { return stored("Ping:b:0") == "Passed"; }))
        << "the result whose write failed goes with the next one";
    EXPECT_EQ(stored("Ping:a:0"), "Passed");

    // With a long interval the writer holds the next result back; closing
    // writes it.
    store.setResultWriteInterval(std::chrono::hours(1));
    ASSERT_TRUE(store.SetServiceResult("Ping:a:0", "Failed"));
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
    EXPECT_EQ(stored("Ping:a:0"), "Failed");
    std::lock_guard lock(mutex);
    EXPECT_EQ(failures.size(), 1u) << "a failed write is told once";
}

TEST_F(ServiceStoreTest, ClosingWritesChangesThatAFailedSaveLeftInMemory) {
    ASSERT_TRUE(store.InsertService(Ping("a")));
    const std::string away = dir.file("conf-away");
    ASSERT_EQ(::rename(dir.file("conf").c_str(), away.c_str()), 0);
    EXPECT_FALSE(store.SetServiceRunState("Ping:a:0", "Stop"));
    ASSERT_EQ(::rename(away.c_str(), dir.file("conf").c_str()), 0);
    EXPECT_TRUE(store.OpenServiceFile(false).ok());
    EXPECT_FALSE(store.isActive());
    EXPECT_EQ(store.FindService("Ping:a:0"), -1) << "nothing can be read once closed";
    EXPECT_FALSE(store.InsertService(Ping("b")));
    EXPECT_STREQ(reloaded().child("record").child_value("status"), "Stop");
}

TEST_F(ServiceStoreTest, ALinkIsWrittenThroughAndKeptWhileAPipeOrADanglingLinkIsRefused) {
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
    ::mkdir(dir.file("elsewhere").c_str(), 0700);
    const std::string target = dir.file("elsewhere/services.xml");
    ASSERT_EQ(::rename(path.c_str(), target.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    ServiceStore linked(path);
    ASSERT_TRUE(linked.OpenServiceFile(true).ok());
    ASSERT_TRUE(linked.InsertService(Ping("a")));
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    EXPECT_NE(ReadFile(target).find("Ping:a:0"), std::string::npos) << "its target has the record";
    ASSERT_TRUE(linked.OpenServiceFile(false).ok());

    ASSERT_EQ(::unlink(target.c_str()), 0);
    ServiceStore dangling(path);
    EXPECT_TRUE(dangling.ServiceFileExists()) << "not a place to make a new, empty list";
    EXPECT_FALSE(dangling.OpenServiceFile(true).ok());

    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    ServiceStore pipe(path);
    const Status opened = pipe.OpenServiceFile(true);  // at once, not when someone writes
    EXPECT_FALSE(opened);
    EXPECT_NE(opened.error().find("is not a regular file"), std::string::npos) << opened.error();
}

// What the operator wrote is kept, or the file is refused and left alone.
TEST_F(ServiceStoreTest, SavingKeepsCommentsInstructionsAndTextAndRefusesWhatItCannotKeep) {
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
    // Latin-1 bytes under a Latin-1 declaration: read as such, written as
    // UTF-8 under a UTF-8 declaration, and a second round changes nothing.
    WriteFile(path,
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><serviceList>"
              "<!-- <record key=\"old\"/> --><?keep me?>"
              "<record key=\"Ping:a:0\"><service>Ping</service><password>caf\xE9</password>"
              "</record></serviceList>");
    for (int round = 1; round <= 2; ++round) {
        ServiceStore again(path);
        ASSERT_TRUE(again.OpenServiceFile(true).ok()) << ReadFile(path);
        EXPECT_EQ(again.findRecord("Ping:a:0")->text("password"), "caf\xC3\xA9") << round;
        ASSERT_TRUE(again.SetServiceRunState("Ping:a:0", "Stop"));
    }
    const std::string saved = ReadFile(path);
    EXPECT_NE(saved.find("encoding=\"UTF-8\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("<!-- <record key=\"old\"/> -->"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<?keep me?>"), std::string::npos) << saved;
    {
        ServiceStore third(path);
        ASSERT_TRUE(third.OpenServiceFile(true).ok());
        ASSERT_TRUE(third.SetServiceRunState("Ping:a:0", "Stop"));
    }
    EXPECT_EQ(ReadFile(path), saved) << "a load and a save are a fixed point";

    const std::string entities =
        "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY pw \"secret\">]>"
        "<serviceList><record key=\"k\"><password>&pw;</password></record></serviceList>";
    std::string nested = "<serviceList><record key=\"k\"><password>";
    for (int i = 0; i < 5000; ++i) {
        nested += "<a>";
    }
    for (const std::string& text : {entities, nested}) {
        WriteFile(path, text);
        ServiceStore refused(path);
        const Status opened = refused.OpenServiceFile(true);
        EXPECT_FALSE(opened);
        EXPECT_EQ(ReadFile(path), text) << "left untouched";
    }
    for (int i = 0; i < 5000; ++i) {
        nested += "</a>";
    }
    WriteFile(path, nested + "</password></record></serviceList>");
    ServiceStore deep(path);
    const Status opened = deep.OpenServiceFile(true);
    EXPECT_NE(opened.error().find("nest deeper than"), std::string::npos) << opened.error();

    // Markup in a document type that pugixml reads past what looks like its
    // end (an internal subset left open, a quote in an instruction), with a
    // "]" or a quote in a record: what was saved opens again.
    for (const char* doctype : {"\"\" [", "<?p \"?>"}) {
        WriteFile(path, std::string("<?xml version=\"1.0\"?>\n<!DOCTYPE serviceList ") + doctype +
                            ">\n<serviceList><record key=\"a\">]\"<service>Ping</service>"
                            "</record></serviceList>");
        for (int round = 1; round <= 2; ++round) {
            ServiceStore again(path);
            ASSERT_TRUE(again.OpenServiceFile(true).ok()) << round << "\n" << ReadFile(path);
            ASSERT_TRUE(again.SetServiceResult("a", "Passed"));
            ASSERT_TRUE(again.OpenServiceFile(false).ok());
        }
    }
}

// A list in any encoding iconv knows is read in it and saved as UTF-8 under
// a UTF-8 declaration, after which loads and saves are a fixed point; one
// that cannot be read as it says is refused and left alone.
TEST_F(ServiceStoreTest, AListInAnyDeclaredEncodingIsSavedAsUtf8OrRefusedUntouched) {
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
    const struct {
        const char* name;
        const char* bytes;
        const char* utf8;
    } kLists[] = {
        {"windows-1252", "\x80 caf\xE9", "\xE2\x82\xAC caf\xC3\xA9"},
        {"ISO-8859-15", "\xA4 \xBD", "\xE2\x82\xAC \xC5\x93"},
        {"KOI8-R", "\xD0\xD2\xC9\xD7\xC5\xD4", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        // Trail bytes in the ASCII range ("{" of U+672C).
        {"Shift_JIS", "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},
    };
    for (const auto& list : kLists) {
        WriteFile(path, std::string("<?xml version=\"1.0\" encoding='") + list.name +
                            "' standalone=\"no\"?>\n<!-- " + list.bytes +
                            " -->\n<serviceList><record key=\"Ping:a:0\"><service>Ping</service>"
                            "<password>" +
                            list.bytes + "</password></record></serviceList>");
        std::string saved;
        for (int round = 1; round <= 3; ++round) {
            ServiceStore again(path);
            ASSERT_TRUE(again.OpenServiceFile(true).ok()) << list.name;
            EXPECT_EQ(again.findRecord("Ping:a:0")->text("password"), list.utf8) << list.name;
            ASSERT_TRUE(again.SetServiceRunState("Ping:a:0", "Stop"));
            ASSERT_TRUE(again.OpenServiceFile(false).ok());
            if (round > 1) {
                EXPECT_EQ(ReadFile(path), saved) << list.name << " round " << round;
            }
            saved = ReadFile(path);
        }
        EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>", 0), 0)
            << saved;
        EXPECT_NE(saved.find(std::string("<!-- ") + list.utf8 + " -->"), std::string::npos)
            << saved;
    }

    // A list declared UTF-8 is read as it always was, without a conversion:
    // a stray byte that is not UTF-8 does not refuse it.
    WriteFile(path,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><serviceList>"
              "<record key=\"Ping:a:0\"><username>caf\xE9</username></record></serviceList>");
    {
        ServiceStore utf8(path);
        ASSERT_TRUE(utf8.OpenServiceFile(true).ok());
        EXPECT_EQ(utf8.findRecord("Ping:a:0")->text("username"), "caf\xE9");
    }
    // UTF-16 is read by its byte order mark, as before.
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><serviceList>"
                                    "<record key=\"Ping:a:0\"/></serviceList>")) {
        utf16 += c;
        utf16 += '\0';
    }
    WriteFile(path, utf16);
    {
        ServiceStore wide(path);
        ASSERT_TRUE(wide.OpenServiceFile(true).ok());
        EXPECT_TRUE(wide.findRecord("Ping:a:0").has_value());
    }

    const struct {
        std::string text;
        const char* why;
    } kRefused[] = {
        {"<?xml version=\"1.0\" encoding=\"x-no-such\"?><serviceList/>",
         "its declared encoding \"x-no-such\" cannot be read"},
        {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><serviceList><record key=\"caf\xE9\"/>"
         "</serviceList>",
         "the bytes at offset 70 are not US-ASCII"},
    };
    for (const auto& refused : kRefused) {
        WriteFile(path, refused.text);
        ServiceStore opened(path);
        const Status status = opened.OpenServiceFile(true);
        ASSERT_FALSE(status);
        EXPECT_NE(status.error().find(refused.why), std::string::npos) << status.error();
        EXPECT_EQ(ReadFile(path), refused.text) << "left untouched";
    }
}

// An operator's edit of the file while the store holds it is never written
// over: it is taken in first, with the results held for the records kept.
TEST_F(ServiceStoreTest, AnOperatorsEditIsTakenInBeforeAnythingIsWrittenOverIt) {
    ASSERT_TRUE(store.InsertService(Ping("a")));
    ASSERT_TRUE(store.InsertService(Ping("b")));
    int reloads = 0;
    std::atomic<int> noticed{0};
    store.onReloaded = [&] { ++reloads; };
    store.setChangedOnDiskHandler([&] { ++noticed; });
    store.setResultWriteInterval(std::chrono::milliseconds(10));

    // By hand: "a" removed, "b" changed, "c" added.
    ServiceFields b = Ping("b");
    b.username = "edited";
    ServiceStore hand(dir.file("conf/hand.xml"));
    ASSERT_TRUE(hand.CreateServiceFile().ok());
    ASSERT_TRUE(hand.OpenServiceFile(true).ok());
    ASSERT_TRUE(hand.InsertService(b));
    ASSERT_TRUE(hand.InsertService(Ping("c")));
    ASSERT_TRUE(hand.OpenServiceFile(false).ok());
    WriteFile(path, ReadFile(dir.file("conf/hand.xml")));
    const std::string edited = ReadFile(path);

    ASSERT_TRUE(store.SetServiceResult("Ping:b:0", "Failed"));
    ASSERT_TRUE(test::Eventually([&] { return noticed == 1; }));
    EXPECT_EQ(ReadFile(path), edited) << "the writer wrote nothing over the edit";
    ASSERT_TRUE(store.TakeChangesOnDisk());
    EXPECT_EQ(reloads, 1);
    EXPECT_FALSE(store.findRecord("Ping:a:0").has_value());
    EXPECT_EQ(store.findRecord("Ping:b:0")->text("username"), "edited");
    EXPECT_EQ(store.findRecord("Ping:b:0")->text("service_status"), "Failed");
    EXPECT_TRUE(store.findRecord("Ping:c:0").has_value());
    EXPECT_NE(ReadFile(path).find("<service_status>Failed</service_status>"), std::string::npos);

    // An edit of ours applies to the file as the operator left it.
    WriteFile(path, ReadFile(path) + "<!-- by hand -->");
    ASSERT_TRUE(store.InsertService(Ping("d")));
    EXPECT_EQ(reloads, 2);
    EXPECT_NE(ReadFile(path).find("<!-- by hand -->"), std::string::npos);
    EXPECT_NE(ReadFile(path).find("Ping:d:0"), std::string::npos);
}

TEST_F(ServiceStoreTest, AFileThatIsNotAServiceListIsRefusedAndLeftAlone) {
    for (const std::string& bad :
         {std::string("this is not xml"), std::string("<serviceList><record></serviceList>"),
          std::string("<?xml version=\"1.0\"?><other/>"), std::string()}) {
        WriteFile(path, bad);
        ServiceStore broken(path);
        const Status opened = broken.OpenServiceFile(true);
        EXPECT_FALSE(opened.ok()) << bad;
        EXPECT_NE(opened.error().find("service.xml"), std::string::npos) << opened.error();
        EXPECT_FALSE(broken.isActive());
        EXPECT_FALSE(broken.SetServiceResult("k", "Passed"));
        EXPECT_EQ(broken.OpenServiceFile(false).ok(), true);
        EXPECT_EQ(ReadFile(path), bad) << "the file is never written";
    }
    // A fault in a later record, or after the list, is told where it is in
    // the file, as pugixml finds it reading the file whole.
    const std::string good = "<serviceList><record key=\"a\"><service>Ping</service></record>";
    for (const std::string& bad :
         {good + "<record key=\"b\"><service>Ping</servic></record></serviceList>",
          good + "<record key=\"b\"><ip>1</ip></serviceList>",
          good + "<record key=b/></serviceList>", good + "</serviceList><"}) {
        WriteFile(path, bad);
        pugi::xml_document whole;
        const pugi::xml_parse_result expected = whole.load_string(bad.c_str());
        ASSERT_FALSE(expected) << bad;
        ServiceStore broken(path);
        const Status opened = broken.OpenServiceFile(true);
        ASSERT_FALSE(opened.ok()) << bad;
        EXPECT_NE(opened.error().find(std::string(expected.description()) + " at offset " +
                                      std::to_string(expected.offset)),
                  std::string::npos)
            << opened.error();
        EXPECT_EQ(ReadFile(path), bad);
    }
}

TEST_F(ServiceStoreTest, RecordViewsTellMissingFromEmpty) {
    WriteFile(path,
              "<?xml version=\"1.0\"?><!DOCTYPE service><serviceList>"
              "<record key=\"Ping:h:0\"><service>Ping</service><ip></ip></record>"
              "</serviceList>");
    ASSERT_TRUE(store.OpenServiceFile(true).ok());
    const auto rec = store.findRecord("Ping:h:0");
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->key(), "Ping:h:0");
    EXPECT_EQ(rec->find("ip"), "");
    EXPECT_FALSE(rec->find("port").has_value());
    EXPECT_EQ(rec->text("port"), "");
    EXPECT_FALSE(rec->findUrlField("cookie").has_value());
    // The one reader of a record says the same: an element there but empty,
    // one missing read as empty, the TLS pair as what records before it meant.
    const ServiceFields fields = rec->fields();
    EXPECT_EQ(fields.key, "Ping:h:0");
    EXPECT_TRUE(fields.has(Element::Ip));
    EXPECT_FALSE(fields.has(Element::Port));
    EXPECT_EQ(fields.port, "");
    EXPECT_EQ(fields.runState, "") << "not the default of a new service";
    EXPECT_EQ(fields.tls, "");
    EXPECT_EQ(fields.tlsVerify, "y");
    EXPECT_FALSE(fields.has(Element::Cookie));
}

// Whatever a record holds (texts that are escaped in the file, a CR, other
// attributes, a comment, text beside the records), it reads as it says and
// a result, a run state or an edit writes the file as before, byte for byte.
TEST_F(ServiceStoreTest, OddRecordsReadAsTheySayAndResultsAndEditsWriteTheSameBytes) {
    WriteFile(path,
              "<?xml version=\"1.0\"?>\n<!-- list -->\n<serviceList v=\"1\">"
              "<record key=\"URL:a&amp;b:80\" x=\"&quot;q&quot;\"><service>URL</service>"
              "<ip>a&amp;b</ip><password>x&#13;y&lt;z</password><service_status>Unknown"
              "</service_status><status>Start</status><!-- note --><service_url><cookie>c=1"
              "</cookie><referer>&gt;r</referer></service_url><service_url_detail><fieldname>f"
              "</fieldname><fieldvalue>v&amp;w</fieldvalue></service_url_detail></record>"
              "loose text<record key=\"Ping:p:0\"><service>Ping</service><ip>p</ip></record>"
              "<?pi here?><record key=\"Ping:q:0\"><service>Ping</service>mixed<ip>q</ip>"
              "<service_status></service_status></record></serviceList>\n<!-- after -->");
    ASSERT_TRUE(store.OpenServiceFile(true).ok());
    const auto a = store.findRecord("URL:a&b:80");
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->text("ip"), "a&b");
    EXPECT_EQ(a->text("password"), "x\ry<z");
    EXPECT_EQ(a->findUrlField("referer"), ">r");
    EXPECT_EQ(a->findUrlField("cookie"), "c=1");
    ASSERT_EQ(a->extraFields().size(), 1U);
    EXPECT_EQ(a->extraFields()[0].value, "v&w");
    const ServiceFields fields = a->fields();
    EXPECT_EQ(fields.request.referer, ">r");
    EXPECT_EQ(fields.password, "x\ry<z");
    EXPECT_EQ(store.findRecord("Ping:q:0")->text("ip"), "q");

    ASSERT_TRUE(store.SetServiceResult("URL:a&b:80", "Passed"));
    ASSERT_TRUE(store.SetServiceResult("Ping:p:0", "Failed"));  // it has none yet
    ASSERT_TRUE(store.SetServiceResult("Ping:q:0", "Failed: <b> & \"c\""));
    ASSERT_TRUE(store.SetServiceRunState("Ping:p:0", "Stop"));
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.findRecord("Ping:q:0")->text("service_status"), "Failed: <b> & \"c\"");
    EXPECT_EQ(store.findRecord("URL:a&b:80")->text("service_status"), "Passed");
    EXPECT_EQ(store.findRecord("URL:a&b:80")->text("password"), "x\ry<z");
    const std::string expected = R"(<?xml version="1.0"?>
<!-- list -->
<serviceList v="1">
  <record key="URL:a&amp;b:80" x="&quot;q&quot;">
    <service>URL</service>
    <ip>a&amp;b</ip>
    <password>x&#13;y&lt;z</password>
    <service_status>Passed</service_status>
    <status>Start</status>
    <!-- note -->
    <service_url>
      <cookie>c=1</cookie>
      <referer>&gt;r</referer>
    </service_url>
    <service_url_detail>
      <fieldname>f</fieldname>
      <fieldvalue>v&amp;w</fieldvalue>
    </service_url_detail>
  </record>loose text<record key="Ping:p:0">
    <service>Ping</service>
    <ip>p</ip>
    <service_status>Failed</service_status>
    <status>Stop</status>
  </record>
  <?pi here?>
  <record key="Ping:q:0">
    <service>Ping</service>mixed<ip>q</ip>
    <service_status>Failed: &lt;b&gt; &amp; "c"</service_status>
  </record>
</serviceList>
<!-- after -->
)";
    EXPECT_EQ(ReadFile(path), expected);
    ServiceStore again(path);
    ASSERT_TRUE(again.OpenServiceFile(true).ok());
    ASSERT_TRUE(again.SetServiceResult("Ping:p:0", "Failed"));
    ASSERT_TRUE(again.flush());
    EXPECT_EQ(ReadFile(path), expected) << "a load and a save are a fixed point";

    // A longer result set in place moves the texts after it, not their reads.
    const std::string longer = "Failed: no answer within 30 seconds from port 80";
    ASSERT_TRUE(again.SetServiceResult("URL:a&b:80", "Failed: no answer within 30 seconds"));
    ASSERT_TRUE(again.SetServiceResult("URL:a&b:80", longer));
    const auto changed = again.findRecord("URL:a&b:80");
    EXPECT_EQ(changed->text("service_status"), longer);
    EXPECT_EQ(changed->text("status"), "Start");
    EXPECT_EQ(changed->findUrlField("cookie"), "c=1");
    EXPECT_EQ(changed->extraFields()[0].name, "f");
    EXPECT_EQ(changed->key(), "URL:a&b:80");
    ASSERT_TRUE(again.flush());
    EXPECT_NE(ReadFile(path).find("<service_status>Failed: no answer within 30 seconds from "
                                  "port 80</service_status>\n    <status>Start</status>"),
              std::string::npos);
}

// A result never waits for the writer: one that comes while the writer
// serialises the list is held back, applied at the owner's next turn, and
// reaches the file with the next write.
TEST_F(ServiceStoreTest, AResultNeverWaitsForTheWriterAndStillReachesTheFile) {
    constexpr int kRecords = 10000;
    const std::vector<test::ServiceEntry> entries = PingEntries(kRecords, "10.1.");
    WriteFile(path, test::ServiceListXml(entries));
    app::EventLoop owner;
    store.setOwner(&owner);
    ASSERT_TRUE(store.OpenServiceFile(true).ok());
    // What one write of the whole list takes.
    ASSERT_TRUE(store.SetServiceResult(entries[0].key(), "Passed"));
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(store.flush());
    const auto write = std::chrono::steady_clock::now() - before;

    // The writer writes in a loop while results keep coming.
    store.setResultWriteInterval(std::chrono::milliseconds(0));
    const auto slow = write / 4;
    int waited = 0;
    int n = 0;
    const auto end = std::chrono::steady_clock::now() +
                     std::clamp(10 * write, decltype(write)(1s), decltype(write)(3s));
    while (std::chrono::steady_clock::now() < end) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(store.SetServiceResult(entries[n % kRecords].key(), "Failed"));
        waited += std::chrono::steady_clock::now() - start > slow ? 1 : 0;
        ++n;
        owner.runUntil([] { return false; }, std::chrono::milliseconds(1));
    }
    EXPECT_LE(waited, 2) << n << " results, a write of the list takes "
                         << std::chrono::duration<double, std::milli>(write).count() << " ms";
    // The owner's turns alone bring the results to the file.
    const auto stored = [this](const std::string& key) { return StoredResult(path, key); };
    const std::string last = entries[static_cast<std::size_t>((n - 1) % kRecords)].key();
    EXPECT_TRUE(test::Eventually(
        [&] {
            owner.runUntil([] { return false; }, std::chrono::milliseconds(10));
            return stored(last) == "Failed" && stored(entries[0].key()) == "Failed";
        },
        10s));
    // The writer posts to the owner: it stops before the owner goes.
    ASSERT_TRUE(store.OpenServiceFile(false).ok());
}

}  // namespace
}  // namespace vantor::registry
