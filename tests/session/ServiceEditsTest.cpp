// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's changes to the service list as the session makes them, with
// the rules that go with each and the core's views that follow, without a
// window.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "engine/HostListModel.h"
#include "engine/ServiceHealth.h"
#include "engine/ServiceListModel.h"
#include "history/HistoryDb.h"
#include "history/HistoryStore.h"
#include "registry/ServiceStore.h"
#include "session/ServiceEdits.h"
#include "support/AppFixture.h"
#include "support/ServiceListFile.h"
#include "support/TempDir.h"

namespace vantor::session {
namespace {

using registry::ServiceFields;

ServiceFields Smtp(const std::string& host, const std::string& port = "25") {
    ServiceFields f;
    f.service = "SMTP";
    f.ip = host;
    f.port = port;
    f.scheduleBy = "Hourly";
    f.scheduleHour = "00";
    f.scheduleMinute = "10";
    return f;
}

class ServiceEditsTest : public test::AppFixture {
protected:
    ServiceEditsTest() {
        test::WriteFile(paths.serviceFilePath(),
                        test::ServiceListXml({Entry("10.0.0.1", "25"), Entry("10.0.0.2", "25")}));
        EXPECT_TRUE(store.OpenServiceFile(true).ok());
        health.setScheduling(true);
        edits.refill("ALL");
    }

    static test::ServiceEntry Entry(const std::string& host, const std::string& port) {
        test::ServiceEntry e;
        e.service = "SMTP";
        e.ip = host;
        e.port = port;
        e.serviceStatus = "Failed";
        return e;
    }

    std::string stored(const std::string& key) const {
        const auto record = store.findRecord(key);
        return record ? std::string(record->text(registry::Element::ServiceStatus)) : "<none>";
    }

    registry::ServiceStore store{paths.serviceFilePath()};
    engine::ServiceListModel services;
    engine::HostListModel hosts;
    engine::ServiceHealth health;
    ServiceEdits edits{store, services, hosts, health, log};
};

TEST_F(ServiceEditsTest, AnAddedServiceShowsInBothListsAndItsKeyIsTakenOnce) {
    edits.showServices("URL");
    ASSERT_EQ(services.rowCount(), 0u);
    EXPECT_TRUE(edits.add(Smtp("10.0.0.3")).done());
    EXPECT_EQ(stored("SMTP:10.0.0.3:25"), "Unknown");
    EXPECT_EQ(services.currentFilter(), "ALL");
    EXPECT_TRUE(services.findRow("SMTP:10.0.0.3:25").has_value());
    EXPECT_EQ(hosts.rows(), (std::vector<std::string>{"ALL", "10.0.0.1", "10.0.0.2", "10.0.0.3"}));

    EXPECT_EQ(edits.add(Smtp("10.0.0.3")).result, EditResult::KeyExists);
    EXPECT_EQ(store.recordCount(), 3u);
}

TEST_F(ServiceEditsTest, AChangeReKeysTheRecordAndForgetsItsFailure) {
    health.resultCame("SMTP:10.0.0.1:25", false);
    health.resultCame("SMTP:10.0.0.2:25", false);
    ASSERT_EQ(health.trayState(), engine::TrayState::Failing);

    EXPECT_EQ(edits.change("SMTP:10.0.0.1:25", Smtp("10.0.0.2")).result, EditResult::KeyExists)
        << "the new key belongs to the other record";
    EXPECT_EQ(edits.change("SMTP:10.0.0.9:25", Smtp("10.0.0.9")).result, EditResult::NotFound);
    EXPECT_EQ(health.failingCount(), 2u);

    EXPECT_TRUE(edits.change("SMTP:10.0.0.1:25", Smtp("10.0.0.1", "587")).done());
    EXPECT_EQ(stored("SMTP:10.0.0.1:25"), "<none>");
    EXPECT_EQ(stored("SMTP:10.0.0.1:587"), "Unknown");
    EXPECT_TRUE(services.findRow("SMTP:10.0.0.1:587").has_value());
    EXPECT_FALSE(health.failing("SMTP:10.0.0.1:25"));
    EXPECT_EQ(health.failingCount(), 1u);
    // Even under its own key an update stores "Unknown": nothing fails then.
    EXPECT_TRUE(edits.change("SMTP:10.0.0.2:25", Smtp("10.0.0.2")).done());
    EXPECT_EQ(health.trayState(), engine::TrayState::Passed);
}

TEST_F(ServiceEditsTest, AServicesHistoryFollowsItsNewKeyAndStaysAfterADelete) {
    history::HistoryStore kept(paths.historyDirPath(), {}, log, clock);
    edits.setHistory(&kept);
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(clock.now().time_since_epoch()).count();
    for (const char* key : {"SMTP:10.0.0.1:25", "SMTP:10.0.0.2:25"}) {
        history::Verdict v;
        v.key = key;
        v.time = now - 60;
        kept.record(v);
    }
    EXPECT_TRUE(edits.change("SMTP:10.0.0.1:25", Smtp("10.0.0.1", "587")).done());
    EXPECT_TRUE(edits.remove("SMTP:10.0.0.2:25").done());
    kept.waitWritten();
    auto db = history::HistoryDb::openReader(kept.databasePath());
    EXPECT_EQ(db->counts("SMTP:10.0.0.1:25", now - 3600, now).checks, 0);
    EXPECT_EQ(db->counts("SMTP:10.0.0.1:587", now - 3600, now).checks, 1);
    EXPECT_EQ(db->counts("SMTP:10.0.0.2:25", now - 3600, now).checks, 1)
        << "a deleted service's rows wait for retention";
}

TEST_F(ServiceEditsTest, ARemovalRefillsWithTheFilterItHadAlsoWhenTheRecordWasGone) {
    health.resultCame("SMTP:10.0.0.2:25", false);
    edits.showServices("Email");
    EXPECT_TRUE(edits.remove("SMTP:10.0.0.2:25").done());
    EXPECT_EQ(health.trayState(), engine::TrayState::Passed);
    EXPECT_EQ(services.currentFilter(), "Email");
    EXPECT_EQ(services.rowCount(), 1u);
    EXPECT_EQ(hosts.rows(), (std::vector<std::string>{"ALL", "10.0.0.1"}));

    EXPECT_EQ(edits.remove("SMTP:10.0.0.2:25").result, EditResult::NotFound);
    EXPECT_EQ(services.currentFilter(), "Email");
    EXPECT_EQ(store.recordCount(), 1u);
}

TEST_F(ServiceEditsTest, AFailedSaveIsLoggedOnceAndTheEditIsNotKept) {
    const std::string conf = dir.file("conf");
    const std::string away = dir.file("conf-away");
    ASSERT_EQ(std::rename(conf.c_str(), away.c_str()), 0);
    const EditOutcome added = edits.add(Smtp("10.0.0.3"));
    ASSERT_EQ(std::rename(away.c_str(), conf.c_str()), 0);

    ASSERT_EQ(added.result, EditResult::SaveFailed);
    EXPECT_EQ(added.message.rfind("ERR00603 : Cannot save service.xml file. : ", 0), 0u)
        << added.message;
    EXPECT_EQ(stored("SMTP:10.0.0.3:25"), "<none>");
    EXPECT_FALSE(services.findRow("SMTP:10.0.0.3:25").has_value());
    const std::string logged = test::ReadFile(logFile("2026-12-08"));
    EXPECT_NE(logged.find("[ERROR] " + added.message), std::string::npos) << logged;
}

// A list taken in as a whole (an operator's edit of the file) keeps only the
// failures of the services still there.
TEST_F(ServiceEditsTest, ARefillForgetsTheFailuresOfServicesNoLongerThere) {
    health.resultCame("SMTP:10.0.0.1:25", false);
    test::WriteFile(paths.serviceFilePath(), test::ServiceListXml({Entry("10.0.0.2", "25")}));
    ASSERT_TRUE(store.reloadNow().ok());
    edits.refill();
    EXPECT_EQ(health.trayState(), engine::TrayState::Passed);
    EXPECT_EQ(hosts.rows(), (std::vector<std::string>{"ALL", "10.0.0.2"}));
}

}  // namespace
}  // namespace vantor::session
