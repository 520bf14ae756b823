// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SettingsFile.h"

#include <array>
#include <string>

#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/AtomicFile.h"
#include "app/IniFile.h"
#include "app/Messages.h"
#include "app/SystemLog.h"

namespace vantor::app {

namespace {

enum class Kind { Bool, Int, String, Facility, Severity };

struct KeyDef {
    std::string_view section;
    std::string_view key;
    Kind kind;
    bool AppSettings::*b = nullptr;
    int AppSettings::*i = nullptr;
    std::string AppSettings::*s = nullptr;
    // Keys added later are saved only when the file has them or their value
    // is not the default, so that an older file saves as it was.
    bool optional = false;
};

constexpr KeyDef B(std::string_view sec, std::string_view key, bool AppSettings::*m) {
    return {sec, key, Kind::Bool, m, nullptr, nullptr};
}
constexpr KeyDef I(std::string_view sec, std::string_view key, int AppSettings::*m) {
    return {sec, key, Kind::Int, nullptr, m, nullptr};
}
constexpr KeyDef S(std::string_view sec, std::string_view key, std::string AppSettings::*m) {
    return {sec, key, Kind::String, nullptr, nullptr, m};
}
constexpr KeyDef Optional(KeyDef def) {
    def.optional = true;
    return def;
}

// Every key, in the order in which it is saved. Sections are created in the
// order of their first key.
constexpr auto kKeys = std::to_array<KeyDef>({
    B("System", "InitStart", &AppSettings::initStart),
    I("System", "WindowWidth", &AppSettings::windowWidth),
    I("System", "WindowHeight", &AppSettings::windowHeight),
    B("System", "ShowFunctionBar", &AppSettings::showFunctionBar),
    B("System", "ShowWindowAlarmLog", &AppSettings::showWindowAlarmLog),
    I("System", "ShowLogItem", &AppSettings::showLogItem),
    I("http", "HTTPDefaultTimeout", &AppSettings::httpDefaultTimeout),
    I("ping", "PingDefaultTimeout", &AppSettings::pingDefaultTimeout),
    I("db", "DBDefaultTimeout", &AppSettings::dbDefaultTimeout),
    I("ftp", "FTPDefaultTimeout", &AppSettings::ftpDefaultTimeout),
    I("email", "EmailDefaultTimeout", &AppSettings::emailDefaultTimeout),
    I("http", "HTTPRetry", &AppSettings::httpRetry),
    I("ping", "PingRetry", &AppSettings::pingRetry),
    I("db", "DBRetry", &AppSettings::dbRetry),
    I("ftp", "FTPRetry", &AppSettings::ftpRetry),
    I("email", "EmailRetry", &AppSettings::emailRetry),
    Optional(I("http", "CertExpiryDays", &AppSettings::certExpiryDays)),
    I("System Log", "HouseKeepDay", &AppSettings::systemLogHouseKeepDay),
    S("System Log", "Filename", &AppSettings::systemLogFilename),
    B("Alarm Msg File Backup", "Enable", &AppSettings::backupEnable),
    S("Alarm Msg File Backup", "FilenamePath", &AppSettings::backupFilenamePath),
    S("Alarm Msg File Backup", "Filename", &AppSettings::backupFilename),
    I("Alarm Msg File Backup", "HouseKeepDay", &AppSettings::backupHouseKeepDay),
    B("SMTP Alarm", "Enable", &AppSettings::smtpEnable),
    S("SMTP Alarm", "IP", &AppSettings::smtpIp),
    I("SMTP Alarm", "Port", &AppSettings::smtpPort),
    S("SMTP Alarm", "EmailAddress", &AppSettings::smtpEmailAddress),
    S("SMTP Alarm", "MailAgent", &AppSettings::smtpMailAgent),
    S("SMTP Alarm", "FromAddress", &AppSettings::smtpFromAddress),
    B("SMTP Alarm", "Authentication Enable", &AppSettings::smtpAuthEnable),
    S("SMTP Alarm", "Username", &AppSettings::smtpUsername),
    S("SMTP Alarm", "Password", &AppSettings::smtpPassword),
    I("SMTP Alarm", "Timeout", &AppSettings::smtpTimeout),
    Optional(S("SMTP Alarm", "Security", &AppSettings::smtpSecurity)),
    B("SMS Alarm", "Enable", &AppSettings::smsEnable),
    S("SMS Alarm", "IP", &AppSettings::smsIp),
    I("SMS Alarm", "Port", &AppSettings::smsPort),
    S("SMS Alarm", "OA", &AppSettings::smsOa),
    B("SMS Alarm", "Authentication Enable", &AppSettings::smsAuthEnable),
    S("SMS Alarm", "Username", &AppSettings::smsUsername),
    S("SMS Alarm", "Password", &AppSettings::smsPassword),
    I("SMS Alarm", "Version", &AppSettings::smsVersion),
    S("SMS Alarm", "SystemType", &AppSettings::smsSystemType),
    I("SMS Alarm", "TON", &AppSettings::smsTon),
    I("SMS Alarm", "NPI", &AppSettings::smsNpi),
    I("SMS Alarm", "DestTON", &AppSettings::smsDestTon),
    I("SMS Alarm", "DestNPI", &AppSettings::smsDestNpi),
    I("SMS Alarm", "OrigTON", &AppSettings::smsOrigTon),
    I("SMS Alarm", "OrigNPI", &AppSettings::smsOrigNpi),
    S("SMS Alarm", "Phone", &AppSettings::smsPhone),
    I("SMS Alarm", "Timeout", &AppSettings::smsTimeout),
    B("HTTP-SMS Alarm", "Enable", &AppSettings::httpSmsEnable),
    S("HTTP-SMS Alarm", "URL", &AppSettings::httpSmsUrl),
    I("HTTP-SMS Alarm", "Port", &AppSettings::httpSmsPort),
    S("HTTP-SMS Alarm", "Method", &AppSettings::httpSmsMethod),
    B("HTTP-SMS Alarm", "Authentication Enable", &AppSettings::httpSmsAuthEnable),
    S("HTTP-SMS Alarm", "Username", &AppSettings::httpSmsUsername),
    S("HTTP-SMS Alarm", "Password", &AppSettings::httpSmsPassword),
    S("HTTP-SMS Alarm", "ProxyServer", &AppSettings::httpSmsProxyServer),
    I("HTTP-SMS Alarm", "ProxyPort", &AppSettings::httpSmsProxyPort),
    S("HTTP-SMS Alarm", "ProxyUsername", &AppSettings::httpSmsProxyUsername),
    S("HTTP-SMS Alarm", "ProxyPassword", &AppSettings::httpSmsProxyPassword),
    S("HTTP-SMS Alarm", "MSISDN FieldName", &AppSettings::httpSmsMsisdnFieldName),
    S("HTTP-SMS Alarm", "MSISDN FieldValue", &AppSettings::httpSmsMsisdnFieldValue),
    S("HTTP-SMS Alarm", "MESSAGE FieldName", &AppSettings::httpSmsMessageFieldName),
    S("HTTP-SMS Alarm", "Extra Field1 Name", &AppSettings::httpSmsExtraField1Name),
    S("HTTP-SMS Alarm", "Extra Field1 Value", &AppSettings::httpSmsExtraField1Value),
    S("HTTP-SMS Alarm", "Extra Field2 Name", &AppSettings::httpSmsExtraField2Name),
    S("HTTP-SMS Alarm", "Extra Field2 Value", &AppSettings::httpSmsExtraField2Value),
    I("HTTP-SMS Alarm", "Timeout", &AppSettings::httpSmsTimeout),
    B("SysLog Alarm", "Enable", &AppSettings::syslogEnable),
    S("SysLog Alarm", "IP", &AppSettings::syslogIp),
    I("SysLog Alarm", "Port", &AppSettings::syslogPort),
    KeyDef{"SysLog Alarm", "Facility", Kind::Facility, nullptr, &AppSettings::syslogFacility,
           nullptr},
    KeyDef{"SysLog Alarm", "Severity", Kind::Severity, nullptr, &AppSettings::syslogSeverity,
           nullptr},
    I("SysLog Alarm", "Timeout", &AppSettings::syslogTimeout),
    Optional(B("System", "ShowDetailPane", &AppSettings::showDetailPane)),
    Optional(B("History", "Enable", &AppSettings::historyEnable)),
    Optional(I("History", "RawKeepDays", &AppSettings::historyRawKeepDays)),
    Optional(I("History", "HourlyKeepDays", &AppSettings::historyHourlyKeepDays)),
    Optional(I("History", "DailyKeepDays", &AppSettings::historyDailyKeepDays)),
    Optional(I("History", "MaxMB", &AppSettings::historyMaxMB)),
    Optional(S("AlarmPolicy", "AlarmOn", &AppSettings::alarmOn)),
    Optional(I("AlarmPolicy", "FailAfter", &AppSettings::alarmFailAfter)),
    Optional(B("AlarmPolicy", "Recovery", &AppSettings::alarmRecovery)),
    Optional(I("AlarmPolicy", "RecoverAfter", &AppSettings::alarmRecoverAfter)),
    Optional(I("AlarmPolicy", "RemindEvery", &AppSettings::alarmRemindEvery)),
    Optional(B("AlarmPolicy", "FlapDetect", &AppSettings::alarmFlapDetect)),
    Optional(S("AlarmPolicy", "Maintenance", &AppSettings::alarmMaintenance)),
    Optional(I("AlarmPolicy", "HTTPSlowAfterMs", &AppSettings::httpSlowAfterMs)),
    Optional(I("AlarmPolicy", "HTTPFailAfterMs", &AppSettings::httpFailAfterMs)),
    Optional(I("AlarmPolicy", "PingSlowAfterMs", &AppSettings::pingSlowAfterMs)),
    Optional(I("AlarmPolicy", "PingFailAfterMs", &AppSettings::pingFailAfterMs)),
    Optional(I("AlarmPolicy", "FTPSlowAfterMs", &AppSettings::ftpSlowAfterMs)),
    Optional(I("AlarmPolicy", "FTPFailAfterMs", &AppSettings::ftpFailAfterMs)),
    Optional(I("AlarmPolicy", "EmailSlowAfterMs", &AppSettings::emailSlowAfterMs)),
    Optional(I("AlarmPolicy", "EmailFailAfterMs", &AppSettings::emailFailAfterMs)),
    Optional(S("Metrics", "Listen", &AppSettings::metricsListen)),
    Optional(S("Metrics", "WebConfig", &AppSettings::metricsWebConfig)),
    Optional(S("Metrics", "TextfileDir", &AppSettings::metricsTextfileDir)),
    Optional(S("Alertmanager", "URL", &AppSettings::alertmanagerUrl)),
});

void ReadKey(const IniFile& ini, const KeyDef& def, const AppSettings& defaults, AppSettings& out) {
    const std::optional<std::string> raw = ini.value(def.section, def.key);
    switch (def.kind) {
        case Kind::Bool: {
            const auto v = raw ? ParseIniInteger(*raw) : std::nullopt;
            out.*def.b = v ? *v != 0 : defaults.*def.b;
            break;
        }
        case Kind::Int: {
            const auto v = raw ? ParseIniInteger(*raw) : std::nullopt;
            out.*def.i = v ? *v : defaults.*def.i;
            break;
        }
        case Kind::String:
            out.*def.s = raw ? *raw : defaults.*def.s;
            break;
        case Kind::Facility:
            out.*def.i = FacilityFromName(raw.value_or(""));
            break;
        case Kind::Severity:
            out.*def.i = SeverityFromName(raw.value_or(""));
            break;
    }
}

std::string WrittenValue(const KeyDef& def, const AppSettings& s) {
    switch (def.kind) {
        case Kind::Bool:
            return s.*def.b ? "1" : "0";
        case Kind::Int:
            return std::to_string(s.*def.i);
        case Kind::String:
            return s.*def.s;
        case Kind::Facility:
            return std::string(FacilityName(s.*def.i));
        case Kind::Severity:
            return std::string(SeverityName(s.*def.i));
    }
    return {};
}

void ApplyClamps(AppSettings& s) {
    auto belowZero = [](int& v, int fallback) {
        if (v < 0) {
            v = fallback;
        }
    };
    auto notPositive = [](int& v, int fallback) {
        if (v <= 0) {
            v = fallback;
        }
    };
    auto notFlag = [](int& v) {
        if (v < 0 || v > 1) {
            v = 0;
        }
    };
    belowZero(s.windowWidth, 1024);
    belowZero(s.windowHeight, 768);
    belowZero(s.showLogItem, 100);
    notPositive(s.httpDefaultTimeout, 10000);
    notPositive(s.pingDefaultTimeout, 10000);
    notPositive(s.dbDefaultTimeout, 10000);
    notPositive(s.ftpDefaultTimeout, 10000);
    notPositive(s.emailDefaultTimeout, 10000);
    notFlag(s.httpRetry);
    notFlag(s.pingRetry);
    notFlag(s.dbRetry);
    notFlag(s.ftpRetry);
    notFlag(s.emailRetry);
    belowZero(s.certExpiryDays, 14);
    notPositive(s.systemLogHouseKeepDay, 7);
    notPositive(s.smtpTimeout, 5000);
    notPositive(s.smsTimeout, 5000);
    notPositive(s.httpSmsTimeout, 5000);
    notPositive(s.syslogTimeout, 5000);
    notPositive(s.historyRawKeepDays, 7);
    notPositive(s.historyHourlyKeepDays, 90);
    notPositive(s.historyDailyKeepDays, 400);
    notPositive(s.historyMaxMB, 512);
    notPositive(s.alarmFailAfter, 1);
    notPositive(s.alarmRecoverAfter, 1);
    // Reminders: none, or at most one every 5 minutes.
    if (s.alarmRemindEvery < 0) {
        s.alarmRemindEvery = 0;
    } else if (s.alarmRemindEvery > 0 && s.alarmRemindEvery < 5) {
        s.alarmRemindEvery = 5;
    }
    for (int* limit :
         {&s.httpSlowAfterMs, &s.httpFailAfterMs, &s.pingSlowAfterMs, &s.pingFailAfterMs,
          &s.ftpSlowAfterMs, &s.ftpFailAfterMs, &s.emailSlowAfterMs, &s.emailFailAfterMs}) {
        belowZero(*limit, 0);
    }
    if (s.alarmOn != "EveryFailure" && s.alarmOn != "OnChange") {
        s.alarmOn = "EveryFailure";
    }
}

}  // namespace

SettingsFile::SettingsFile(const AppPaths& paths, Reporter& reporter, SystemLog& log,
                           std::function<void()> networkProbe)
    : m_paths(paths), m_reporter(reporter), m_log(log), m_networkProbe(std::move(networkProbe)) {}

bool SettingsFile::LoadSettings(AppSettings& settings) {
    const std::string path = m_paths.settingsFile();
    Expected<IniFile> ini = IniFile::load(path);
    if (!ini) {
        ReportFailure(m_reporter, m_log, msg::kSystemInitFileNotFound, ini.error(),
                      MessageBoxKind::Warning, LogLevel::Warming);
        return false;
    }
    settings.settingsFileMissing = !ini->existed();
    m_stamp = StampOf(path);

    AppSettings defaults;
    defaults.backupFilenamePath = m_paths.logDirPath();
    for (const KeyDef& def : kKeys) {
        ReadKey(*ini, def, defaults, settings);
    }
    settings.minLogLevel = LogLevel::None;
    ApplyClamps(settings);
    if (m_networkProbe) {
        m_networkProbe();
    }
    return true;
}

bool SettingsFile::SaveSettings(const AppSettings& settings) {
    const std::string path = m_paths.settingsFile();
    if (path.empty()) {
        ReportFailure(m_reporter, m_log, msg::kSystemInitFileNotFound,
                      m_paths.confDirPath() + " was not found", MessageBoxKind::Warning,
                      LogLevel::Warming);
        return false;
    }
    Expected<IniFile> ini = IniFile::load(path);
    if (!ini) {
        ReportFailure(m_reporter, m_log, msg::kSystemInitFileNotFound, ini.error(),
                      MessageBoxKind::Warning, LogLevel::Warming);
        return false;
    }
    IniFile& doc = ini.value();
    AppSettings defaults;
    defaults.backupFilenamePath = m_paths.logDirPath();
    for (const KeyDef& def : kKeys) {
        const std::string value = WrittenValue(def, settings);
        if (def.optional && !doc.value(def.section, def.key) &&
            value == WrittenValue(def, defaults)) {
            continue;
        }
        doc.writeString(def.section, def.key, value);
    }
    const Status written = WriteFileAtomically(path, doc.serialize());
    if (!written) {
        ReportFailure(m_reporter, m_log, msg::kSystemInitFileNotFound, written.error(),
                      MessageBoxKind::Warning, LogLevel::Warming);
        return false;
    }
    m_stamp = StampOf(path);
    return true;
}

bool SettingsFile::changedOnDisk() const {
    return StampOf(m_paths.settingsFile()) != m_stamp;
}

}  // namespace vantor::app
