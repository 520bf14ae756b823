// SPDX-License-Identifier: GPL-3.0-or-later
// The service list: which records a filter shows, how their rows read, and
// the host tree.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/HostListModel.h"
#include "engine/ServiceListModel.h"
#include "registry/ServiceStore.h"
#include "support/RecordingReporter.h"
#include "support/TempDir.h"

namespace vantor::engine {
namespace {

using registry::ServiceFields;

ServiceFields Fields(const std::string& service, const std::string& ip, const std::string& port,
                     const std::string& by = "Minutely", const std::string& hour = "00",
                     const std::string& minute = "5") {
    ServiceFields f;
    f.service = service;
    f.ip = ip;
    f.port = port;
    f.scheduleBy = by;
    f.scheduleHour = hour;
    f.scheduleMinute = minute;
    return f;
}

class Recorder final : public app::ListObserver {
public:
    explicit Recorder(const ServiceListModel& list) : m_list(list) {}
    void aboutToReset() override { events.push_back("about to reset " + rows()); }
    void reset() override { events.push_back("reset " + rows()); }
    void rowChanged(std::size_t row) override { events.push_back("row " + std::to_string(row)); }
    void currentRowChanged(std::optional<std::size_t> row) override {
        events.push_back("current " + (row ? std::to_string(*row) : std::string("none")));
    }
    std::vector<std::string> events;

private:
    std::string rows() const { return std::to_string(m_list.rowCount()); }
    const ServiceListModel& m_list;
};

// The texts of a row as the window shows them, column by column, up to the
// history's columns.
std::vector<std::string> Cells(const ServiceListModel& list, std::size_t row) {
    std::vector<std::string> out;
    for (int c = 0; c < static_cast<int>(ServiceListModel::Column::Response); ++c) {
        out.emplace_back(list.cellText(row, static_cast<ServiceListModel::Column>(c)));
    }
    return out;
}

class ServiceListModelTest : public ::testing::Test {
protected:
    ServiceListModelTest() {
        EXPECT_TRUE(store.CreateServiceFile().ok());
        EXPECT_TRUE(store.OpenServiceFile(true).ok());
        // Added out of order: the list sorts by ID.
        add(Fields("URL", "http://b.example/", "80", "Hourly", "00", "15"));
        add(Fields("SMTP", "10.0.0.1", "25", "Daily", "14", "05"));
        add(Fields("Ping", "10.0.0.2", ""));
        add(Fields("POP3", "10.0.0.1", "110"));
        add(Fields("Email", "10.0.0.5", "25"));
        add(Fields("IMAP", "10.0.0.3", "143"));
        add(Fields("FTP", "10.0.0.2", "21"));
        add(Fields("Database", "10.0.0.4", "1521"));
    }

    void add(const ServiceFields& f) {
        const Status added = store.InsertService(f);
        ASSERT_TRUE(added) << added.error();
    }

    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (const ServiceRow& row : list.rows()) {
            out.push_back(row.id);
        }
        return out;
    }

    test::TempDir dir;
    test::RecordingReporter reporter;
    registry::ServiceStore store{dir.file("service.xml")};
    ServiceListModel list;
};

TEST_F(ServiceListModelTest, AllShowsEveryRecordSortedById) {
    list.Fill(store, "ALL");
    EXPECT_EQ(ids(), (std::vector<std::string>{
                         "Database:10.0.0.4:1521", "Email:10.0.0.5:25", "FTP:10.0.0.2:21",
                         "IMAP:10.0.0.3:143", "POP3:10.0.0.1:110",
                         "Ping:10.0.0.2:", "SMTP:10.0.0.1:25", "URL:http://b.example/:80"}));
    EXPECT_EQ(list.currentFilter(), "ALL");
}

TEST_F(ServiceListModelTest, KindFiltersShowTheirKindAndEmailTheThreeMailKinds) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"URL", {"URL:http://b.example/:80"}},
        {"Ping", {"Ping:10.0.0.2:"}},
        {"FTP", {"FTP:10.0.0.2:21"}},
        {"Database", {"Database:10.0.0.4:1521"}},
        {"Email", {"IMAP:10.0.0.3:143", "POP3:10.0.0.1:110", "SMTP:10.0.0.1:25"}},
    };
    for (const auto& [filter, expected] : cases) {
        list.Fill(store, filter);
        EXPECT_EQ(ids(), expected) << filter;
        EXPECT_EQ(list.currentFilter(), filter);
    }
    // A kind without records is still the filter.
    ASSERT_TRUE(store.DeleteService("Database:10.0.0.4:1521"));
    list.Fill(store, "Database");
    EXPECT_TRUE(list.rows().empty());
    EXPECT_EQ(list.currentFilter(), "Database");
}

TEST_F(ServiceListModelTest, AnyOtherTextFiltersByHost) {
    list.Fill(store, "Email");
    list.Fill(store, "10.0.0.2");
    EXPECT_EQ(ids(), (std::vector<std::string>{"FTP:10.0.0.2:21", "Ping:10.0.0.2:"}));
    EXPECT_EQ(list.currentFilter(), "ALL") << "a host that matched sets the filter to ALL";

    list.Fill(store, "10.0.0.5");
    EXPECT_EQ(ids(), (std::vector<std::string>{"Email:10.0.0.5:25"}))
        << "a record of kind Email is found by its host";

    list.Fill(store, "URL");
    list.Fill(store, "192.0.2.99");
    EXPECT_TRUE(list.rows().empty());
    EXPECT_EQ(list.currentFilter(), "URL") << "a host without records keeps the filter";

    list.Fill(store, "10.0.0");  // whole hosts only
    EXPECT_TRUE(list.rows().empty());
    list.Fill(store, "all");  // filters are compared as they are written
    EXPECT_TRUE(list.rows().empty());
    EXPECT_EQ(list.currentFilter(), "URL");
}

TEST_F(ServiceListModelTest, RowsShowPortIntervalAndStates) {
    ASSERT_TRUE(store.SetServiceResult("SMTP:10.0.0.1:25", "Failed"));
    ASSERT_TRUE(store.SetServiceRunState("URL:http://b.example/:80", "Stop"));
    list.Fill(store, "ALL");
    auto row = [&](const std::string& key) { return list.rows()[*list.findRow(key)]; };

    const ServiceRow ping = row("Ping:10.0.0.2:");
    EXPECT_EQ(ping.port, "---");
    EXPECT_EQ(ping.interval, "every 5 min");
    EXPECT_EQ(Cells(list, *list.findRow("Ping:10.0.0.2:")),
              (std::vector<std::string>{"Ping:10.0.0.2:", "Ping", "10.0.0.2", "---", "Unknown",
                                        "Minutely", "every 5 min", "Start"}));
    const ServiceRow smtp = row("SMTP:10.0.0.1:25");
    EXPECT_EQ(smtp.interval, "on 14:05");
    EXPECT_EQ(smtp.currentStatus, "Failed");
    EXPECT_EQ(smtp.port, "25");
    const ServiceRow url = row("URL:http://b.example/:80");
    EXPECT_EQ(url.interval, "on 15 min");
    EXPECT_EQ(url.status, "Stop");
    EXPECT_EQ(url.by, "Hourly");
}

TEST_F(ServiceListModelTest, AnUnknownScheduleKindHasNoIntervalCell) {
    add(Fields("Ping", "10.0.0.9", "0", "Weekly", "01", "02"));
    list.Fill(store, "10.0.0.9");
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_EQ(list.rows()[0].interval, "");
    EXPECT_EQ(Cells(list, 0), (std::vector<std::string>{"Ping:10.0.0.9:0", "Ping", "10.0.0.9", "0",
                                                        "Unknown", "Weekly", "Start", ""}))
        << "the run state moves into the interval's column";
}

TEST_F(ServiceListModelTest, SelectionAndChangesAreToldToEveryObserver) {
    Recorder recorder(list);
    Recorder second(list);
    list.addObserver(&recorder);
    list.addObserver(&second);
    list.Fill(store, "Email");
    list.select(2);
    list.select(3);  // no such row
    list.setCurrentStatus(1, "Process");
    list.setRunState(0, "Stop");
    list.setCurrentStatus(9, "Process");  // no such row
    EXPECT_EQ(list.selected(), std::optional<std::size_t>(2));
    EXPECT_EQ(list.rows()[1].currentStatus, "Process");
    EXPECT_EQ(list.rows()[0].status, "Stop");
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"about to reset 0", "reset 3", "current none", "current 2",
                                        "row 1", "row 0"}))
        << "told before the rows change, while the old ones are still there, and after";
    EXPECT_EQ(second.events, recorder.events);
    list.removeObserver(&second);

    list.Fill(store, "ALL");
    EXPECT_FALSE(list.selected().has_value()) << "a new fill selects nothing";
    EXPECT_EQ(second.events.size(), 6u) << "a removed observer hears nothing more";
    EXPECT_EQ(list.rows()[*list.findRow("POP3:10.0.0.1:110")].currentStatus, "Unknown")
        << "rows are read afresh from the store";
}

TEST_F(ServiceListModelTest, TheHostTreeIsAllThenEachHostOnceInOrder) {
    HostListModel hosts;
    hosts.Fill(store);
    EXPECT_EQ(hosts.rows(),
              (std::vector<std::string>{"ALL", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4",
                                        "10.0.0.5", "http://b.example/"}));
    // As an operator reads them, not by character code; hosts that differ in
    // case only are two, in a fixed order.
    add(Fields("Ping", "Zeta.example", ""));
    add(Fields("Ping", "alpha.example", ""));
    add(Fields("Ping", "Alpha.example", ""));
    hosts.Fill(store);
    EXPECT_EQ(hosts.rows(),
              (std::vector<std::string>{"ALL", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4",
                                        "10.0.0.5", "Alpha.example", "alpha.example",
                                        "http://b.example/", "Zeta.example"}));
    test::TempDir other;
    registry::ServiceStore empty(other.file("service.xml"));
    ASSERT_TRUE(empty.CreateServiceFile().ok());
    ASSERT_TRUE(empty.OpenServiceFile(true).ok());
    hosts.Fill(empty);
    EXPECT_EQ(hosts.rows(), (std::vector<std::string>{"ALL"}));
}

}  // namespace
}  // namespace vantor::engine
