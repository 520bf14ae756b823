// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "app/LogLevel.h"

namespace vantor::app {

// Every setting of SysInit.ini, with its default, plus two values that live
// only in memory. One record per process, read and changed on the owner
// thread.
struct AppSettings {
    // [System]
    bool initStart = true;
    int windowWidth = 1024;
    int windowHeight = 768;
    bool showFunctionBar = true;
    bool showWindowAlarmLog = true;
    int showLogItem = 100;
    // [http] [ping] [db] [ftp] [email]
    int httpDefaultTimeout = 10000;
    int pingDefaultTimeout = 10000;
    int dbDefaultTimeout = 10000;
    int ftpDefaultTimeout = 10000;
    int emailDefaultTimeout = 10000;
    int httpRetry = 0;
    int pingRetry = 0;
    int dbRetry = 0;
    int ftpRetry = 0;
    int emailRetry = 0;
    // [http] CertExpiryDays: a check over TLS fails when the server's
    // certificate expires within this many days; 0 switches that off.
    int certExpiryDays = 14;
    // [System Log]
    int systemLogHouseKeepDay = 7;
    std::string systemLogFilename = "system_";
    // [Alarm Msg File Backup]
    bool backupEnable = false;
    std::string backupFilenamePath;  // defaults to the log directory
    std::string backupFilename = "AlarmMsg_";
    int backupHouseKeepDay = 7;
    // [SMTP Alarm]
    bool smtpEnable = false;
    std::string smtpIp;
    int smtpPort = 25;
    std::string smtpEmailAddress;
    std::string smtpMailAgent;
    std::string smtpFromAddress;
    bool smtpAuthEnable = false;
    std::string smtpUsername;
    std::string smtpPassword;
    int smtpTimeout = 5000;
    // "None", "STARTTLS" or "TLS" (TLS from the first byte).
    std::string smtpSecurity = "None";
    // [SMS Alarm]
    bool smsEnable = false;
    std::string smsIp;
    int smsPort = 50111;
    std::string smsOa;
    bool smsAuthEnable = false;
    std::string smsUsername;
    std::string smsPassword;
    int smsVersion = 34;
    std::string smsSystemType = "TCP";
    int smsTon = 1;
    int smsNpi = 1;
    int smsDestTon = 1;
    int smsDestNpi = 1;
    int smsOrigTon = 1;
    int smsOrigNpi = 1;
    std::string smsPhone;
    int smsTimeout = 5000;
    // [HTTP-SMS Alarm]
    bool httpSmsEnable = false;
    std::string httpSmsUrl;
    int httpSmsPort = 80;
    std::string httpSmsMethod = "Get";
    bool httpSmsAuthEnable = false;
    std::string httpSmsUsername;
    std::string httpSmsPassword;
    std::string httpSmsProxyServer;
    int httpSmsProxyPort = 0;
    std::string httpSmsProxyUsername;
    std::string httpSmsProxyPassword;
    std::string httpSmsMsisdnFieldName;
    std::string httpSmsMsisdnFieldValue;
    std::string httpSmsMessageFieldName;
    std::string httpSmsExtraField1Name;
    std::string httpSmsExtraField1Value;
    std::string httpSmsExtraField2Name;
    std::string httpSmsExtraField2Value;
    int httpSmsTimeout = 5000;
    // [SysLog Alarm]
    bool syslogEnable = false;
    std::string syslogIp;
    int syslogPort = 514;
    int syslogFacility = 0;  // 0..23
    int syslogSeverity = 0;  // 0..7
    int syslogTimeout = 5000;
    // [History]: the result history and how long it keeps what.
    bool historyEnable = true;
    int historyRawKeepDays = 7;
    int historyHourlyKeepDays = 90;
    int historyDailyKeepDays = 400;
    int historyMaxMB = 512;
    // [AlarmPolicy]: when final verdicts raise alarms.
    std::string alarmOn = "EveryFailure";  // or "OnChange"
    int alarmFailAfter = 1;
    bool alarmRecovery = false;
    int alarmRecoverAfter = 1;
    int alarmRemindEvery = 0;  // minutes, 0 = none
    bool alarmFlapDetect = false;
    // Maintenance windows for every service: "daily 02:00 60; weekly Sun
    // 23:30 120; once 2026-12-24 18:00 2026-12-26 08:00".
    std::string alarmMaintenance;
    // Response-time limits per kind in ms, 0 = none: slower than SlowAfterMs
    // a passed check is marked slow, slower than FailAfterMs it fails.
    int httpSlowAfterMs = 0;
    int httpFailAfterMs = 0;
    int pingSlowAfterMs = 0;
    int pingFailAfterMs = 0;
    int ftpSlowAfterMs = 0;
    int ftpFailAfterMs = 0;
    int emailSlowAfterMs = 0;
    int emailFailAfterMs = 0;
    // [System] ShowDetailPane: the service's history beside the lists.
    bool showDetailPane = false;
    // [Metrics]: the Prometheus exposition, served nowhere unless asked:
    // the endpoint's address ("127.0.0.1:9469"), its web configuration
    // (TLS, basic authentication) and node_exporter's textfile folder.
    std::string metricsListen;
    std::string metricsWebConfig;
    std::string metricsTextfileDir;
    // [Alertmanager] URL: Alertmanagers that get every alarm notice as an
    // alert ("http://127.0.0.1:9093", several with commas between).
    std::string alertmanagerUrl;

    // Not stored in the file.
    bool settingsFileMissing = false;
    LogLevel minLogLevel = LogLevel::None;
};

// BSD syslog facility names (RFC 3164 numbering), compared case-sensitively.
// An unknown name reads as 0; a number outside 0..23 has the empty name.
int FacilityFromName(std::string_view name);
std::string_view FacilityName(int number);
// Syslog severity names; an unknown name reads as 0, a number outside 0..7
// has the empty name.
int SeverityFromName(std::string_view name);
std::string_view SeverityName(int number);

}  // namespace vantor::app
