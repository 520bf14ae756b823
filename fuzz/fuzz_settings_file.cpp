// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of SysInit.ini: the input is the file. It is loaded into
// the settings record, whose corrections must leave every value in its
// range; saved, loaded again (every number and flag comes back as it was,
// every text as the file can hold it); and saved once more, which must
// write the same bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/Clock.h"
#include "app/IniFile.h"
#include "app/Reporter.h"
#include "app/SettingsFile.h"
#include "app/SystemLog.h"

using namespace vantor::app;

namespace {

class QuietReporter final : public Reporter {
public:
    void showBox(MessageBoxKind, std::string_view text) override {
        std::fprintf(stderr, "box: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void requestTerminate() override { m_terminate = true; }
    bool terminateRequested() const override { return m_terminate; }

private:
    bool m_terminate = false;
};

void CheckRanges(const AppSettings& s) {
    FUZZ_CHECK(s.windowWidth >= 0 && s.windowHeight >= 0 && s.showLogItem >= 0);
    for (int timeout :
         {s.httpDefaultTimeout, s.pingDefaultTimeout, s.dbDefaultTimeout, s.ftpDefaultTimeout,
          s.emailDefaultTimeout, s.smtpTimeout, s.smsTimeout, s.httpSmsTimeout, s.syslogTimeout}) {
        FUZZ_CHECK(timeout > 0);
    }
    for (int retry : {s.httpRetry, s.pingRetry, s.dbRetry, s.ftpRetry, s.emailRetry}) {
        FUZZ_CHECK(retry == 0 || retry == 1);
    }
    FUZZ_CHECK(s.systemLogHouseKeepDay > 0);
    FUZZ_CHECK(s.syslogFacility >= 0 && s.syslogFacility <= 23);
    FUZZ_CHECK(s.syslogSeverity >= 0 && s.syslogSeverity <= 7);
    FUZZ_CHECK(!FacilityName(s.syslogFacility).empty());
    FUZZ_CHECK(!SeverityName(s.syslogSeverity).empty());
    FUZZ_CHECK(s.minLogLevel == LogLevel::None);
}

// A text as one line of the file gives it back: line breaks become blanks,
// and blanks and tabs at either end are not part of a value.
std::string AsStored(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    const auto first = out.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return out.substr(first, out.find_last_not_of(" \t") - first + 1);
}

// The text without CRs, blanks and tabs.
std::string WithoutCrAndBlanks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == ' ' || c == '\t'; });
    return text;
}

void CheckReloaded(const AppSettings& a, const AppSettings& b) {
    FUZZ_CHECK(a.initStart == b.initStart && a.showFunctionBar == b.showFunctionBar &&
               a.showWindowAlarmLog == b.showWindowAlarmLog && a.backupEnable == b.backupEnable &&
               a.smtpEnable == b.smtpEnable && a.smtpAuthEnable == b.smtpAuthEnable &&
               a.smsEnable == b.smsEnable && a.smsAuthEnable == b.smsAuthEnable &&
               a.httpSmsEnable == b.httpSmsEnable && a.httpSmsAuthEnable == b.httpSmsAuthEnable &&
               a.syslogEnable == b.syslogEnable);
    const int AppSettings::*ints[] = {&AppSettings::windowWidth,
                                      &AppSettings::windowHeight,
                                      &AppSettings::showLogItem,
                                      &AppSettings::httpDefaultTimeout,
                                      &AppSettings::pingDefaultTimeout,
                                      &AppSettings::dbDefaultTimeout,
                                      &AppSettings::ftpDefaultTimeout,
                                      &AppSettings::emailDefaultTimeout,
                                      &AppSettings::httpRetry,
                                      &AppSettings::pingRetry,
                                      &AppSettings::dbRetry,
                                      &AppSettings::ftpRetry,
                                      &AppSettings::emailRetry,
                                      &AppSettings::systemLogHouseKeepDay,
                                      &AppSettings::backupHouseKeepDay,
                                      &AppSettings::smtpPort,
                                      &AppSettings::smtpTimeout,
                                      &AppSettings::smsPort,
                                      &AppSettings::smsVersion,
                                      &AppSettings::smsTon,
                                      &AppSettings::smsNpi,
                                      &AppSettings::smsDestTon,
                                      &AppSettings::smsDestNpi,
                                      &AppSettings::smsOrigTon,
                                      &AppSettings::smsOrigNpi,
                                      &AppSettings::smsTimeout,
                                      &AppSettings::httpSmsPort,
                                      &AppSettings::httpSmsProxyPort,
                                      &AppSettings::httpSmsTimeout,
                                      &AppSettings::syslogPort,
                                      &AppSettings::syslogFacility,
                                      &AppSettings::syslogSeverity,
                                      &AppSettings::syslogTimeout};
    for (const auto member : ints) {
        FUZZ_CHECK(a.*member == b.*member);
    }
    const std::string AppSettings::*texts[] = {&AppSettings::systemLogFilename,
                                               &AppSettings::backupFilenamePath,
                                               &AppSettings::backupFilename,
                                               &AppSettings::smtpIp,
                                               &AppSettings::smtpEmailAddress,
                                               &AppSettings::smtpMailAgent,
                                               &AppSettings::smtpFromAddress,
                                               &AppSettings::smtpUsername,
                                               &AppSettings::smtpPassword,
                                               &AppSettings::smsIp,
                                               &AppSettings::smsOa,
                                               &AppSettings::smsUsername,
                                               &AppSettings::smsPassword,
                                               &AppSettings::smsSystemType,
                                               &AppSettings::smsPhone,
                                               &AppSettings::httpSmsUrl,
                                               &AppSettings::httpSmsMethod,
                                               &AppSettings::httpSmsUsername,
                                               &AppSettings::httpSmsPassword,
                                               &AppSettings::httpSmsProxyServer,
                                               &AppSettings::httpSmsProxyUsername,
                                               &AppSettings::httpSmsProxyPassword,
                                               &AppSettings::httpSmsMsisdnFieldName,
                                               &AppSettings::httpSmsMsisdnFieldValue,
                                               &AppSettings::httpSmsMessageFieldName,
                                               &AppSettings::httpSmsExtraField1Name,
                                               &AppSettings::httpSmsExtraField1Value,
                                               &AppSettings::httpSmsExtraField2Name,
                                               &AppSettings::httpSmsExtraField2Value};
    for (const auto member : texts) {
        FUZZ_CHECK(AsStored(a.*member) == b.*member);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static AppPaths paths(vantor::fuzz::TempDir().path());
    static const bool ready = paths.CheckConfDir() && paths.CheckLogDir();
    FUZZ_CHECK(ready);
    static AppSettings logSettings;
    static QuietReporter reporter;
    static SystemClock clock;
    static SystemLog log(paths, logSettings, clock, reporter);

    // A load skips one byte order mark and a save writes none, so a second
    // one would become the first and change what the file's first line is:
    // such a file is not a fixed point of load and save, and is fuzzed as
    // the file with only the last of its leading marks.
    static constexpr std::string_view kTwoMarks = "\xEF\xBB\xBF\xEF\xBB\xBF";
    while (size >= kTwoMarks.size() && std::memcmp(data, kTwoMarks.data(), kTwoMarks.size()) == 0) {
        data += 3;
        size -= 3;
    }
    const std::string file = paths.settingsFile();
    vantor::fuzz::WriteBytes(file, data, size);
    // The in-memory parse and the file load read the same lines.
    const IniFile parsed =
        IniFile::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    static_cast<void>(parsed.serialize());

    int probes = 0;
    SettingsFile settingsFile(paths, reporter, log, [&probes] { ++probes; });
    AppSettings first;
    FUZZ_CHECK(settingsFile.LoadSettings(first));
    FUZZ_CHECK(probes == 1);
    FUZZ_CHECK(!first.settingsFileMissing);
    CheckRanges(first);

    FUZZ_CHECK(settingsFile.SaveSettings(first));
    const std::string saved = vantor::fuzz::ReadBytes(file);
    AppSettings second;
    FUZZ_CHECK(settingsFile.LoadSettings(second));
    CheckRanges(second);
    CheckReloaded(first, second);

    // Saving again writes the same bytes. When the file holds a CR, CRs and
    // blanks are left out of the comparison: a CR left at the end of a line
    // (a bare CR line end, or "\r\r\n") is dropped one per save, or stays
    // in the value and is saved as a blank, which the next load trims when
    // it is at either end of the value; one at the end of the first line
    // makes the next load take the file for CR LF.
    const bool hasCr = size > 0 && std::memchr(data, '\r', size) != nullptr;
    auto same = [hasCr](const std::string& a, const std::string& b) {
        return hasCr ? WithoutCrAndBlanks(a) == WithoutCrAndBlanks(b) : a == b;
    };
    FUZZ_CHECK(settingsFile.SaveSettings(second));
    FUZZ_CHECK(same(vantor::fuzz::ReadBytes(file), saved));
    return 0;
}
