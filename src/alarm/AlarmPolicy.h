// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vantor::app {
struct AppSettings;
}

namespace vantor::alarm {

// What an alarm row says it is.
enum class NoticeType { Failure, Reminder, Recovery, Flapping, Stable };

// "Failure", "Reminder", "Recovery", "Flapping", "Stable".
std::string_view NoticeTypeName(NoticeType type);

// When a service's final verdicts raise alarms. The defaults are an alarm
// for every failed verdict and nothing else.
struct PolicySettings {
    bool onChange = false;  // AlarmOn=OnChange: one alarm per outage
    int failAfter = 1;      // failed verdicts in a row before the first alarm
    bool recovery = false;  // a notice when an alarmed outage ends
    int recoverAfter = 1;   // passed verdicts in a row that end an outage
    int remindEvery = 0;    // minutes between reminders (OnChange), 0 = none
    bool flapDetect = false;

    static PolicySettings From(const app::AppSettings& settings);
    bool isDefault() const;
    // "AlarmOn OnChange, FailAfter 3, ...": the settings that differ from
    // the defaults, for a line of output.
    std::string describe() const;
};

// One notice to send: the text goes to every method the service asks for.
struct Notice {
    NoticeType type = NoticeType::Failure;
    std::string text;
};

// The alarm state of each service, fed with its final verdicts in order.
// Owner thread only. The state lives in memory; after a restart it is
// rebuilt by replaying the recent verdicts with `muted` set.
class AlarmPolicy final {
public:
    // The verdicts that flap detection looks at.
    static constexpr int kFlapWindow = 21;  // at most 32

    explicit AlarmPolicy(PolicySettings settings = {});

    const PolicySettings& settings() const { return m_settings; }
    void setSettings(const PolicySettings& settings) { m_settings = settings; }

    // A final verdict at `time` (epoch seconds); `detail` is the failure
    // text. Returns what to send, if anything; nothing when muted.
    // `own` is the service's own policy where it has one (else settings()).
    std::optional<Notice> verdict(const std::string& key, std::int64_t time, bool failed,
                                  const std::string& detail, bool muted = false,
                                  const PolicySettings* own = nullptr);
    void forget(const std::string& key) { m_states.erase(key); }
    // Room for the state of n services (a table never shrinks by it).
    void reserve(std::size_t n);
    void rename(const std::string& oldKey, const std::string& newKey);

    // What the state of a service is, for tests and the windows.
    struct View {
        int failedInARow = 0;
        bool alarmed = false;
        std::int64_t failingSince = 0;
        std::int64_t alarmedAt = 0;  // the outage's first alarm
        int notices = 0;             // of the present outage: its alarms and reminders
        bool flapping = false;
    };
    // "Alarmed since 13:05 ×3", "Flapping" or "" for the Alarm state column.
    std::string stateText(const std::string& key) const;
    View view(const std::string& key) const;

private:
    struct State {
        int failedInARow = 0;
        int passedInARow = 0;
        std::int64_t failingSince = 0;  // the outage's first failed verdict
        std::int64_t alarmedAt = 0;     // 0 = no alarm raised for the outage
        int reminders = 0;
        int notices = 0;              // alarms and reminders of the present outage
        std::int64_t remindSlot = 0;  // the last reminder's slot from alarmedAt
        std::string firstText;        // of the outage's first alarm
        std::string lastText;         // of the latest failed verdict
        // The last verdicts, the oldest first, true = failed: one bit each
        // (a list of many services keeps one of these per service).
        struct Window {
            std::uint32_t bits = 0;  // bit i: the i-th of them
            std::uint8_t count = 0;
            std::size_t size() const { return count; }
            bool operator[](std::size_t i) const { return ((bits >> i) & 1U) != 0; }
            void push(bool failed, int most) {
                if (count == most) {
                    bits >>= 1;
                    --count;
                }
                bits |= std::uint32_t{failed} << count;
                ++count;
            }
        };
        Window last;
        bool flapping = false;
    };

    std::optional<Notice> decide(State& s, const PolicySettings& p, std::int64_t time, bool failed,
                                 const std::string& detail);
    // Changes of state among the verdicts of the window.
    static int Changes(const State::Window& last);

    PolicySettings m_settings;
    std::unordered_map<std::string, State> m_states;
};

}  // namespace vantor::alarm
