// SPDX-License-Identifier: GPL-3.0-or-later
// The alarm policy fed with a service's final verdicts, as the engine feeds
// it: which notices come out, with which texts, and that a muted replay of
// the same verdicts leaves the state a live run would have.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "alarm/AlarmPolicy.h"
#include "alarm/MaintenanceWindow.h"
#include "app/TimeFormat.h"
#include "support/MockClock.h"
#include "support/ScopedEnv.h"

namespace vantor::alarm {
namespace {

constexpr std::int64_t kMinute = 60;
// 2026-12-08 13:05:00 UTC.
constexpr std::int64_t kStart = 1796735100;
const std::string kDown = "[10.0.0.1:80] Failed:Connection refused";

struct Outcome {
    std::vector<Notice> notices;
    std::string types() const {
        std::string out;
        for (const Notice& n : notices) {
            out += (out.empty() ? "" : " ") + std::string(NoticeTypeName(n.type));
        }
        return out;
    }
};

class AlarmPolicyTest : public ::testing::Test {
protected:
    AlarmPolicyTest() : tz("TZ", "UTC") { ::tzset(); }
    ~AlarmPolicyTest() override { ::tzset(); }

    // One verdict every 5 minutes from `at` on: 'F' failed, 'P' passed.
    Outcome feed(AlarmPolicy& policy, const std::string& verdicts, std::int64_t& at,
                 bool muted = false) {
        Outcome out;
        for (const char c : verdicts) {
            if (auto n = policy.verdict("svc", at, c == 'F', kDown, muted)) {
                out.notices.push_back(*n);
            }
            at += 5 * kMinute;
        }
        return out;
    }

    test::ScopedEnv tz;
};

PolicySettings OutagePolicy() {
    PolicySettings p;
    p.onChange = true;
    p.failAfter = 3;
    p.recovery = true;
    p.remindEvery = 30;
    return p;
}

TEST_F(AlarmPolicyTest, TheDefaultsAlarmEveryFailureWithItsTextAndNothingElse) {
    AlarmPolicy policy;
    std::int64_t at = kStart;
    const Outcome out = feed(policy, "FFPFPPF", at);
    EXPECT_EQ(out.types(), "Failure Failure Failure Failure");
    for (const Notice& n : out.notices) {
        EXPECT_EQ(n.text, kDown);
    }
    EXPECT_TRUE(PolicySettings{}.isDefault());
    EXPECT_EQ(PolicySettings{}.describe(), "");
}

TEST_F(AlarmPolicyTest, ATwoHourOutageGivesOneAlarmThreeRemindersAndOneRecovery) {
    AlarmPolicy policy(OutagePolicy());
    std::int64_t at = kStart;
    // 24 failed checks (13:05 to 15:00), then it is back at 15:05.
    const Outcome out = feed(policy, std::string(24, 'F') + "PP", at);
    ASSERT_EQ(out.types(), "Failure Reminder Reminder Reminder Recovery");
    EXPECT_EQ(out.notices[0].text, kDown);
    EXPECT_EQ(out.notices[1].text, "STILL FAILING since 13:05 (#2): " + kDown);
    EXPECT_EQ(out.notices[3].text, "STILL FAILING since 13:05 (#4): " + kDown);
    EXPECT_EQ(out.notices[4].text, "RECOVERED after 120 min: " + kDown);
    for (const Notice& n : out.notices) {
        EXPECT_LE(n.text.size() - kDown.size(), 40u) << n.text;
    }
    EXPECT_EQ(OutagePolicy().describe(),
              "AlarmOn OnChange, FailAfter 3, Recovery on, RemindEvery 30");
}

TEST_F(AlarmPolicyTest, FailuresBelowTheThresholdAndAShortBlipRaiseNothing) {
    PolicySettings p;
    p.failAfter = 3;
    p.recovery = true;
    p.recoverAfter = 2;
    AlarmPolicy policy(p);
    std::int64_t at = kStart;
    EXPECT_EQ(feed(policy, "FFPFFP", at).types(), "");
    // EveryFailure from the third on; one pass inside does not end it.
    EXPECT_EQ(feed(policy, "FFFFPFPP", at).types(), "Failure Failure Failure Recovery");
    EXPECT_FALSE(policy.view("svc").alarmed);
}

TEST_F(AlarmPolicyTest, RemindersKeepToTheClockWhenChecksAreSparse) {
    AlarmPolicy policy(OutagePolicy());
    std::int64_t at = kStart;
    feed(policy, "FFF", at);  // the alarm at 13:15
    // Checks every 25 minutes: slots at 13:45, 14:15, 14:45 ride on the
    // first failed check at or after each.
    std::vector<std::string> types;
    for (int i = 0; i < 5; ++i) {
        at += 20 * kMinute;
        if (auto n = policy.verdict("svc", at, true, kDown)) {
            types.emplace_back(NoticeTypeName(n->type));
        }
    }
    EXPECT_EQ(types, (std::vector<std::string>{"Reminder", "Reminder", "Reminder"}));
}

TEST_F(AlarmPolicyTest, AFlappingServiceSendsOneFlappingAndOneStableNotice) {
    PolicySettings p;
    p.flapDetect = true;
    p.recovery = true;
    AlarmPolicy policy(p);
    std::int64_t at = kStart;
    std::string alternating;
    for (int i = 0; i < 24; ++i) {
        alternating += i % 2 == 0 ? 'F' : 'P';
    }
    const Outcome flapping = feed(policy, alternating, at);
    EXPECT_LE(flapping.notices.size(), 3u);
    ASSERT_EQ(flapping.types(), "Failure Recovery Flapping");
    EXPECT_EQ(flapping.notices.back().text, "FLAPPING (2/3): " + kDown);
    EXPECT_TRUE(policy.view("svc").flapping);
    // It settles down: stable once 21 verdicts in a row agree.
    const Outcome settled = feed(policy, std::string(21, 'F') + "P", at);
    EXPECT_EQ(settled.types(), "Stable Recovery");
    EXPECT_EQ(settled.notices[0].text, "STABLE again: " + kDown);

    // A service that goes down after a good start is not flapping: one
    // change is an outage.
    AlarmPolicy fresh(p);
    EXPECT_EQ(feed(fresh, "PPFF", at).types(), "Failure Failure");
    EXPECT_FALSE(fresh.view("svc").flapping);
}

TEST_F(AlarmPolicyTest, AMutedReplayGivesTheStateOfALiveRun) {
    // A restart at 14:00 in the outage: the verdicts so far come back from
    // the history muted; then the run goes on.
    AlarmPolicy live(OutagePolicy());
    AlarmPolicy restarted(OutagePolicy());
    std::int64_t at = kStart;
    std::int64_t replayAt = kStart;
    const Outcome before = feed(live, std::string(11, 'F'), at);
    EXPECT_EQ(feed(restarted, std::string(11, 'F'), replayAt, true).types(), "");
    const std::string rest = std::string(13, 'F') + "P";
    std::int64_t at2 = at;
    EXPECT_EQ(feed(restarted, rest, at2).types(), feed(live, rest, at).types());
    EXPECT_EQ(before.types(), "Failure Reminder");
    EXPECT_FALSE(restarted.view("svc").alarmed);
}

TEST_F(AlarmPolicyTest, TheStateFollowsARenamedKey) {
    AlarmPolicy policy(OutagePolicy());
    std::int64_t at = kStart;
    feed(policy, "FFF", at);
    policy.rename("svc", "new");
    const auto n = policy.verdict("new", at, false, "");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->type, NoticeType::Recovery);
    EXPECT_FALSE(policy.view("svc").alarmed);
}

// Local wall-clock readings in Berlin, where the clocks went forward at
// 02:00 on 2026-03-29 and back at 03:00 on 2026-10-25.
class MaintenanceTest : public ::testing::Test {
protected:
    MaintenanceTest() : tz("TZ", "Europe/Berlin") { ::tzset(); }
    ~MaintenanceTest() override { ::tzset(); }
    static std::int64_t Local(int y, int mo, int d, int h, int mi) {
        return app::EpochSeconds(test::MockClock(y, mo, d, h, mi).now());
    }
    test::ScopedEnv tz;
};

TEST_F(MaintenanceTest, WindowsAreReadAndWhatIsNotOneIsNamed) {
    const MaintenanceList list = ParseMaintenance(
        " daily 02:00 60 ;weekly Sun 23:30 120; once 2026-12-24 18:00 "
        "2026-12-26 08:00;");
    EXPECT_EQ(list.error, "");
    ASSERT_EQ(list.windows.size(), 3u);
    EXPECT_EQ(list.windows[1].weekday, 0);
    for (const char* bad : {"daily 2:00 60", "daily 24:00 60", "weekly Sunday 23:30 120",
                            "daily 02:00 0", "once 2026-02-30 18:00 2026-03-01 08:00",
                            "once 2026-12-26 08:00 2026-12-24 18:00", "nightly 02:00 60"}) {
        EXPECT_EQ(ParseMaintenance(bad).error,
                  std::string("Maintenance window \"") + bad + "\" is not understood.");
    }
}

TEST_F(MaintenanceTest, AWeeklyWindowRunsOnPastMidnightAndDailyOnesKeepToTheLocalClock) {
    const auto list = ParseMaintenance("weekly Sun 23:30 120").windows;
    // 2026-12-13 is a Sunday.
    EXPECT_FALSE(MaintenanceEnd(list, Local(2026, 12, 13, 23, 29)));
    EXPECT_EQ(MaintenanceEnd(list, Local(2026, 12, 14, 0, 45)), Local(2026, 12, 14, 1, 30));
    EXPECT_FALSE(MaintenanceEnd(list, Local(2026, 12, 14, 1, 30)));
    EXPECT_FALSE(MaintenanceEnd(list, Local(2026, 12, 21, 0, 45) - 86400 * 3));

    // The night the clocks go forward: 01:30 CET plus two real hours is
    // 04:30 CEST; a start the clocks skip (02:30) begins at 03:30.
    const auto night = ParseMaintenance("daily 01:30 120").windows;
    EXPECT_EQ(MaintenanceEnd(night, Local(2026, 3, 29, 3, 59)), Local(2026, 3, 29, 4, 30));
    EXPECT_FALSE(MaintenanceEnd(night, Local(2026, 3, 29, 4, 30)));
    const auto skipped = ParseMaintenance("daily 02:30 30").windows;
    EXPECT_TRUE(MaintenanceEnd(skipped, Local(2026, 3, 29, 3, 45)));
    // The night they go back, and the day after: each day at its 01:30.
    EXPECT_EQ(MaintenanceEnd(night, Local(2026, 10, 25, 1, 40)), Local(2026, 10, 25, 1, 30) + 7200);
    EXPECT_TRUE(MaintenanceEnd(night, Local(2026, 10, 26, 1, 30)));
    EXPECT_FALSE(MaintenanceEnd(night, Local(2026, 10, 26, 1, 29)));
}

}  // namespace
}  // namespace vantor::alarm
