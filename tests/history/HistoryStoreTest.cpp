// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <future>
#include <map>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>

#include "history/HistoryDb.h"
#include "history/HistoryStore.h"
#include "history/Sketch.h"
#include "support/AppFixture.h"

namespace vantor::history {
namespace {

using test::FileExists;
using test::ListDir;
using test::ReadFile;

constexpr std::int64_t kDay = 86400;
// 2026-12-01 00:00:00 UTC.
constexpr std::int64_t kStart = 1796083200;

Verdict V(std::string key, std::int64_t t, bool failed, std::int64_t us = 50000) {
    Verdict v;
    v.key = std::move(key);
    v.time = t;
    v.failed = failed;
    v.responseUs = us;
    if (failed) {
        v.detail = "[db.example:5432] Failed:Connection refused";
    }
    return v;
}

// A day of a service checked every 5 minutes: 288 verdicts from `day`'s
// first second, the ones whose index is in `failing` failed.
std::vector<Verdict> Day(const std::string& key, std::int64_t day, std::vector<int> failing = {}) {
    std::vector<Verdict> out;
    for (int i = 0; i < 288; ++i) {
        const bool failed = std::find(failing.begin(), failing.end(), i) != failing.end();
        out.push_back(V(key, day + i * 300, failed, 20000 + (i % 100) * 1000));
    }
    return out;
}

class HistoryDbTest : public ::testing::Test {
protected:
    std::string path() const { return dir.file("history.db"); }
    test::TempDir dir;
};

TEST_F(HistoryDbTest, UptimeIsTheSameFromRawRowsAsFromTheirRollups) {
    auto db = HistoryDb::openWriter(path(), kStart);
    db->write(Day("web", kStart, {10, 11, 200}));
    const std::int64_t endOfDay = kStart + kDay - 1;
    EXPECT_EQ(FormatUptime(db->summary("web", endOfDay).day), "98.958 %");
    EXPECT_EQ(FormatUptime(db->summary("nobody", endOfDay).day), "\u2014");

    // Ten days on, the day is rolled up and its raw rows are gone; the 30
    // days count it once, from the rollups.
    const std::int64_t later = kStart + 10 * kDay;
    db->housekeep(kStart + kDay + 3600, HistorySettings{});
    db->housekeep(later, HistorySettings{});
    std::ostringstream rows;
    EXPECT_EQ(db->exportRaw(kStart, later, rows), 0) << "raw rows kept past their 7 days";
    const Summary s = db->summary("web", later);
    EXPECT_EQ(s.month.checks, 288);
    EXPECT_EQ(s.month.failed, 3);
    EXPECT_EQ(FormatUptime(s.month), "98.958 %");
    EXPECT_EQ(s.day.checks, 0);
    const auto report = db->report(later - 30 * kDay + 1, later);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(FormatUptime(report[0].counts), "98.958 %");

    // A window that starts inside the rolled-up day counts its whole hours.
    const Counts part = db->counts("web", kStart + 12 * 3600, later);
    EXPECT_EQ(part.checks, 144);
    EXPECT_EQ(part.failed, 1);
}

TEST_F(HistoryDbTest, ResponsePercentilesFromRollupsStayWithinFivePercent) {
    auto db = HistoryDb::openWriter(path(), kStart);
    Percentiles exact;
    for (int d = 0; d < 3; ++d) {
        auto day = Day("api", kStart + d * kDay, {5});
        for (auto& v : day) {
            // A skewed spread: most fast, a tail ten times slower.
            const int i = static_cast<int>((v.time - kStart) / 300);
            v.responseUs = (i % 20 == 0) ? 400000 + i * 10 : 30000 + (i * 7919) % 20000;
            if (!v.failed) {
                exact.add(*v.responseUs);
            }
        }
        db->write(day);
    }
    const std::int64_t now = kStart + 3 * kDay - 1;
    const ResponseStats raw = db->report(kStart, now).at(0).response;
    EXPECT_EQ(raw.p50, exact.quantile(0.50)) << "raw rows alone give the exact figure";
    // Past their raw rows, the same days come from the daily sketches.
    db->housekeep(kStart + 3 * kDay + 120, HistorySettings{1, 1, 90, 400, 512});
    db->housekeep(kStart + 12 * kDay, HistorySettings{1, 1, 90, 400, 512});
    const ResponseStats rolled = db->report(kStart, kStart + 12 * kDay).at(0).response;
    ASSERT_TRUE(rolled.p50 && rolled.p95 && rolled.max);
    EXPECT_NEAR(static_cast<double>(*rolled.p50), static_cast<double>(*exact.quantile(0.50)),
                0.05 * static_cast<double>(*exact.quantile(0.50)));
    EXPECT_NEAR(static_cast<double>(*rolled.p95), static_cast<double>(*exact.quantile(0.95)),
                0.05 * static_cast<double>(*exact.quantile(0.95)));
    EXPECT_EQ(*rolled.max, *raw.max);
}

TEST_F(HistoryDbTest, OutagesKeepTheirFirstFailureAndARenameTakesTheRowsAlong) {
    auto db = HistoryDb::openWriter(path(), kStart);
    std::vector<Verdict> vs = {V("a", kStart, false), V("a", kStart + 300, true),
                               V("a", kStart + 600, true), V("a", kStart + 900, false),
                               V("a", kStart + 1200, true)};
    vs[2].detail = "a later failure";
    db->write(vs);
    ServiceDetail d = db->detail("a", kStart + 1200);
    ASSERT_EQ(d.outages.size(), 2u);
    EXPECT_EQ(d.outages[0].from, kStart + 1200);
    EXPECT_FALSE(d.outages[0].to) << "still down";
    EXPECT_EQ(d.outages[1].from, kStart + 300);
    EXPECT_EQ(d.outages[1].to, kStart + 900);
    EXPECT_EQ(d.outages[1].detail, "[db.example:5432] Failed:Connection refused");
    EXPECT_EQ(d.day.size(), 5u);
    EXPECT_EQ(d.dayCounts.checks, 5);

    db->rename("a", "b");
    EXPECT_EQ(db->counts("a", kStart, kStart + 1200).checks, 0);
    EXPECT_EQ(db->counts("b", kStart, kStart + 1200).checks, 5);
    // Two verdicts in one second are two rows.
    db->write({V("b", kStart + 1200, false)});
    EXPECT_EQ(db->counts("b", kStart, kStart + 1300).checks, 6);
    std::ostringstream csv;
    EXPECT_EQ(db->exportRaw(kStart, kStart + 300, csv), 2);
    EXPECT_EQ(csv.str(),
              "b,2026-12-01 00:00:00,Passed,50000,\nb,2026-12-01 00:05:00,Failed,50000,\n");
}

TEST_F(HistoryDbTest, RecentVerdictsGoBackToTheStartOfTheFailureAServiceIsIn) {
    auto db = HistoryDb::openWriter(path(), kStart);
    std::vector<Verdict> vs;
    for (int i = 0; i < 40; ++i) {
        vs.push_back(V("up", kStart + i * 300, false));
        // Down since verdict 5, first with one text and then another.
        vs.push_back(V("down", kStart + i * 300, i >= 5));
        vs.back().detail = i == 5 ? "went down" : "still down";
    }
    db->write(vs);
    const auto recent = db->recentVerdicts(21, kStart + 40 * 300, 7 * kDay);
    std::map<std::string, std::vector<Verdict>> per;
    for (const Verdict& v : recent) {
        per[v.key].push_back(v);
    }
    ASSERT_EQ(per["up"].size(), 21u);
    EXPECT_EQ(per["up"].front().time, kStart + 19 * 300) << "oldest first";
    ASSERT_EQ(per["down"].size(), 35u) << "back to the failure's start, past the window";
    EXPECT_EQ(per["down"].front().time, kStart + 5 * 300);
    EXPECT_EQ(per["down"].back().detail, "went down") << "the text it went down with";
    // Not further back than asked.
    EXPECT_EQ(db->recentVerdicts(21, kStart + 40 * 300, 10 * 300).size(), 20u);
}

TEST_F(HistoryDbTest, RowsForHoursAlreadyRolledUpAreRolledUpAgain) {
    // A database begun today that is handed yesterday's verdicts (a clock
    // set back): the day's rollups are made again from its rows, and a
    // window that reaches into yesterday counts them once.
    const std::int64_t now = kStart + kDay + 12 * 3600;
    auto db = HistoryDb::openWriter(path(), now);
    db->write(Day("late", kStart, {3}));
    const Counts c = db->counts("late", kStart, now);
    EXPECT_EQ(c.checks, 288);
    EXPECT_EQ(c.failed, 1);
    EXPECT_EQ(db->counts("late", kStart + 3600 + 1, now).checks, 288 - 13);
    // Once more, and nothing is counted twice.
    db->write({V("late", kStart + 7, false)});
    EXPECT_EQ(db->counts("late", kStart, now).checks, 289);
}

TEST_F(HistoryDbTest, AFileWhoseUnrolledHourIsKeptByServiceIsTakenUpWithItsRows) {
    const std::int64_t now = kStart + 600;
    HistoryDb::openWriter(path(), kStart)->write({V("web", kStart, false), V("db", kStart, true)});
    {
        // The layout the first version of the file had.
        Database old(path(), Database::Mode::ReadWrite);
        old.exec(
            "DROP VIEW verdict; CREATE TABLE by_service(svc INTEGER NOT NULL, t INTEGER NOT "
            "NULL, failed INTEGER NOT NULL, rt INTEGER, flags INTEGER NOT NULL, PRIMARY KEY(svc, "
            "t)) WITHOUT ROWID; INSERT INTO by_service SELECT * FROM recent; DROP TABLE recent; "
            "ALTER TABLE by_service RENAME TO recent; CREATE VIEW verdict AS SELECT * FROM raw "
            "UNION ALL SELECT * FROM recent");
    }
    auto db = HistoryDb::openWriter(path(), now);
    db->write({V("web", kStart + 300, true)});
    EXPECT_EQ(db->counts("web", kStart, now).checks, 2);
    EXPECT_EQ(db->counts("web", kStart, now).failed, 1);
    EXPECT_EQ(db->counts("db", kStart, now).failed, 1);
    std::ostringstream rows;
    EXPECT_EQ(db->exportRaw(kStart, now, rows), 3);
    Database check(path(), Database::Mode::ReadExisting);
    Statement sql(check, "SELECT sql FROM sqlite_master WHERE name = 'recent'");
    ASSERT_TRUE(sql.step());
    EXPECT_NE(sql.text(0).find("PRIMARY KEY(t, svc)"), std::string::npos) << sql.text(0);
}

TEST_F(HistoryDbTest, AReaderBesideTheWriterSeesEachCommitOnceAndNewServices) {
    auto writer = HistoryDb::openWriter(path(), kStart);
    writer->write({V("web", kStart, false)});
    auto reader = HistoryDb::openReader(path());
    EXPECT_EQ(reader->counts("web", kStart, kStart + 600).checks, 1);
    writer->write({V("web", kStart + 300, true), V("added", kStart + 300, false)});
    EXPECT_EQ(reader->counts("web", kStart, kStart + 600).checks, 2);
    EXPECT_EQ(reader->counts("added", kStart, kStart + 600).checks, 1)
        << "a service that came after the reader opened";
    // Once its hour is moved to raw, the reader counts it there, once.
    writer->housekeep(kStart + 2 * 3600, HistorySettings{});
    EXPECT_EQ(reader->counts("web", kStart, kStart + 2 * 3600).checks, 2);
    EXPECT_EQ(reader->summary("web", kStart + 600).lastResponseUs, 50000);
}

TEST_F(HistoryDbTest, TheSizeCapDropsTheOldestDaysFirst) {
    auto db = HistoryDb::openWriter(path(), kStart);
    for (int d = 0; d < 40; ++d) {
        std::vector<Verdict> day;
        for (int s = 0; s < 40; ++s) {
            auto one = Day("svc" + std::to_string(s), kStart + d * kDay, {d});
            day.insert(day.end(), one.begin(), one.end());
        }
        db->write(day);
        db->housekeep(kStart + (d + 1) * kDay + 120, HistorySettings{true, 7, 90, 400, 512});
    }
    const std::int64_t now = kStart + 40 * kDay + 120;
    const std::int64_t before = db->counts("svc0", kStart, now).checks;
    EXPECT_EQ(before, 40 * 288);
    const int dropped = db->housekeep(now, HistorySettings{true, 7, 90, 400, 1});
    EXPECT_GT(dropped, 0);
    EXPECT_LE(db->usedBytes(), 1024 * 1024);
    // What is left is the newest.
    const std::int64_t after = db->counts("svc0", kStart, now).checks;
    EXPECT_LT(after, before);
    // The two days before now, less the first check of the first (before
    // the window opens, 120 s into it).
    EXPECT_EQ(db->counts("svc0", now - 2 * kDay, now).checks, 2 * 288 - 1);
}

TEST(Sketch, EncodesMergesAndRefusesWhatIsNotOne) {
    Sketch a;
    for (int i = 1; i <= 1000; ++i) {
        a.add(i * 100);
    }
    const auto b = Sketch::decode(a.encode());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->total(), 1000u);
    EXPECT_NEAR(static_cast<double>(*b->quantile(0.5)), 50000.0, 0.04 * 50000.0);
    EXPECT_NEAR(static_cast<double>(*b->quantile(0.95)), 95000.0, 0.04 * 95000.0);
    EXPECT_FALSE(Sketch::decode(std::string("\x80", 1)));
    EXPECT_FALSE(Sketch::decode(std::string("\x7f\x01\x7f\x01\x7f\x01\x7f\x01", 8)));
}

class HistoryStoreTest : public test::AppFixture {
protected:
    std::string historyDir() const { return paths.historyDirPath(); }
    std::string logText() const { return ReadFile(logFile("2026-12-08")); }
    std::int64_t clockNow() const {
        return std::chrono::duration_cast<std::chrono::seconds>(clock.now().time_since_epoch())
            .count();
    }
};

TEST_F(HistoryStoreTest, VerdictsLandInAFolderOfTheirOwnAndSummariesFollow) {
    std::vector<std::string> changed;
    {
        HistoryStore store(historyDir(), {}, log, clock);
        std::mutex m;
        store.setOnSummaries([&](std::vector<std::string> keys) {
            std::lock_guard lock(m);
            changed.insert(changed.end(), keys.begin(), keys.end());
        });
        store.record(V("web", clockNow() - 1, false, 509500));
        store.record(V("web", clockNow(), true, 1200));
        store.roundEnded();
        store.waitWritten();
        const auto s = store.summary("web");
        ASSERT_TRUE(s);
        EXPECT_EQ(FormatMs(s->lastResponseUs), "1.2");
        EXPECT_EQ(FormatUptime(s->day), "50.000 %");
        store.rename("web", "www");
        store.waitWritten();
        EXPECT_TRUE(store.summary("www"));
    }
    EXPECT_NE(std::find(changed.begin(), changed.end(), "www"), changed.end());
    struct stat st {};
    ASSERT_EQ(::stat(historyDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(HistoryStore::databaseIn(historyDir()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto db = HistoryDb::openReader(HistoryStore::databaseIn(historyDir()));
    EXPECT_EQ(db->counts("www", clockNow() - 10, clockNow()).checks, 2);
    EXPECT_EQ(logText().find("History"), std::string::npos) << "nothing to say";
}

TEST_F(HistoryStoreTest, ADamagedFileIsMovedAsideOnceAndAFreshOneTakesTheVerdicts) {
    for (const std::string damage : {"garbage", "truncated"}) {
        ASSERT_EQ(::mkdir(historyDir().c_str(), 0700) == 0 || errno == EEXIST, true);
        const std::string db = HistoryStore::databaseIn(historyDir());
        if (damage == "garbage") {
            test::WriteFile(db, std::string(8192, 'x'));
        } else {
            {
                HistoryStore store(historyDir(), {}, log, clock);
                for (int i = 0; i < 3000; ++i) {
                    store.record(V("k" + std::to_string(i), clockNow(), false));
                }
                store.waitWritten();
            }
            const std::string whole = ReadFile(db);
            test::WriteFile(db, whole.substr(0, whole.size() / 2));
        }
        clock.advance(std::chrono::seconds(1));
        HistoryStore store(historyDir(), {}, log, clock);
        store.record(V("web", clockNow(), false));
        store.waitWritten();
        EXPECT_TRUE(store.available()) << damage;
        EXPECT_EQ(HistoryDb::openReader(db)->counts("web", clockNow() - 5, clockNow()).checks, 1)
            << damage;
    }
    const std::vector<std::string> files = ListDir(historyDir());
    EXPECT_EQ(
        std::count_if(files.begin(), files.end(),
                      [](const std::string& f) { return f.rfind("history.db.2026", 0) == 0; }),
        2);
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = logText().find("is damaged; it was moved to", at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 2u);
    EXPECT_NE(logText().find("[ERROR] History database "), std::string::npos);
}

TEST_F(HistoryStoreTest, AFolderThatCannotBeWrittenIsSaidOnceAndNothingWaits) {
    if (::geteuid() == 0) {
        // root writes anywhere: a file where the folder should be does it.
        test::WriteFile(historyDir().substr(0, historyDir().size() - 1), "not a folder");
    } else {
        ASSERT_EQ(::mkdir(historyDir().c_str(), 0500), 0);
    }
    HistoryStore store(historyDir(), {}, log, clock);
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) {
        store.record(V("web", clockNow() + i, false));
        if (i % 100 == 0) {
            store.roundEnded();
        }
    }
    store.waitWritten();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(store.available());
    const std::string text = logText();
    const auto first = text.find("History is not kept: ");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("History is not kept: ", first + 1), std::string::npos) << "said once";
    // A question for the recent verdicts is answered all the same.
    std::promise<std::size_t> answered;
    store.recentVerdicts(21, [&](std::vector<Verdict> v) { answered.set_value(v.size()); });
    auto answer = answered.get_future();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), 0u);
}

// A writer killed in the middle of a burst: the file opens as sound every
// time, and what it lost is at most the last second or so.
TEST_F(HistoryStoreTest, AKilledWriterLosesAtMostItsLastSecond) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "fork() of a threaded process is outside what ThreadSanitizer follows";
#endif
    const std::string db = HistoryStore::databaseIn(historyDir());
    // One verdict a second from yesterday on: inside every retention.
    std::int64_t base = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count() -
                        kDay;
    for (int round = 0; round < 25; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            app::SystemClock wall;
            HistoryStore store(historyDir(), {}, log, wall);
            for (std::int64_t n = base;; ++n) {
                store.record(V("burst", n, n % 7 == 0, n));
                // Tell the parent how far the hand-over has got.
                if (n % 50 == 0) {
                    const std::int64_t done = n;
                    if (::write(pipeFds[1], &done, sizeof done) < 0) {
                        ::_exit(1);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
        }
        ::close(pipeFds[1]);
        ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
        std::vector<std::pair<std::chrono::steady_clock::time_point, std::int64_t>> seen;
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(600 + (round * 97) % 700);
        while (std::chrono::steady_clock::now() < until) {
            std::int64_t n = 0;
            while (::read(pipeFds[0], &n, sizeof n) == sizeof n) {
                seen.emplace_back(std::chrono::steady_clock::now(), n);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(child, SIGKILL);
        const auto killedAt = std::chrono::steady_clock::now();
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipeFds[0]);
        // Handed over more than 1.5 s before the kill: must be in the file.
        std::int64_t mustHave = -1;
        for (const auto& [at, n] : seen) {
            if (killedAt - at > std::chrono::milliseconds(1500)) {
                mustHave = n;
            }
        }
        auto reader = HistoryDb::openReader(db);
        ASSERT_TRUE(reader->sound()) << "round " << round;
        std::ostringstream csv;
        const std::int64_t rows = reader->exportRaw(base, base + 100000000, csv);
        EXPECT_GE(base + rows - 1, mustHave) << "round " << round;
        base += rows + 1000;
    }
    EXPECT_EQ(logText().find("History"), std::string::npos);
}

}  // namespace
}  // namespace vantor::history
