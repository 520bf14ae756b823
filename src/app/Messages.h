// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The operator-facing texts of the program. Numbered texts are the code,
// " : " and the message; callers append " : " and a failure text where a
// failure text goes with them.
namespace vantor::app::msg {

using Text = std::string_view;

// Numbered messages.
inline constexpr Text kAlreadyStartup = "ERR00001 : The application is already startup.";
inline constexpr Text kHelpFileNotFound = "ERR00003 : Help file not found.";
inline constexpr Text kSystemLogInvalid = "ERR00202 : System log file is invalid.";
inline constexpr Text kSystemInitFileNotFound = "ERR00203 : System init file not found.";
inline constexpr Text kSystemInitDirNotFound = "ERR00204 : System init directory not found.";
inline constexpr Text kSystemLogDirNotFound = "ERR00205 : System log directory not found.";
inline constexpr Text kAlarmLogBackupError = "ERR00206 : Alarm log backup error.";
inline constexpr Text kWinsockNoResponse = "ERR00301 : Winsock has no response.";
inline constexpr Text kWinsockNotInitialised = "ERR00302 : Winsock is not initialised.";
inline constexpr Text kNetworkDown = "ERR00303 : Network is down.";
inline constexpr Text kNetworkInProgress = "ERR00304 : Network is in progress.";
inline constexpr Text kNetworkConnectionFail = "ERR00305 : Network connection fail.";
inline constexpr Text kAlarmingThreadError = "ERR00401 : Alarming thread error.";
inline constexpr Text kCreatingThreadError = "ERR00402 : Creating thread error.";
inline constexpr Text kServiceXmlCorrupted = "ERR00601 : The service.xml file is corrupted.";
inline constexpr Text kServiceXmlCreationErrors =
    "ERR00602 : The service.xml file creation errors.";
inline constexpr Text kCannotSaveServiceXml = "ERR00603 : Cannot save service.xml file.";
inline constexpr Text kCannotMakeConnection =
    "ERR00701 : Cannot make connection, please see help menu in chapter X.";

// SMPP alarm sender; the result code follows the text.
inline constexpr Text kSmppConnectionFailed =
    "ERR00801 : SMPP Connection Failed, please make sure SMPP URL and port are correct. : ";
inline constexpr Text kSmppBindingFailed =
    "ERR00802 : SMPP Binding Failed, please make sure username, password, "
    "TON/NPI/System Type/Version/OA are correct. : ";
inline constexpr Text kSmppSendingFailed =
    "ERR00803 : SMPP Sending Failed, please make sure Dest TON/NPI and Orig TON/NPI are "
    "correct. : ";

// Unexpected failures anywhere in the program.
inline constexpr Text kSupportMailbox = "support@vantor-lite.example";
inline constexpr Text kUnexpectedError =
    "ERROR : Please send this error message to support@vantor-lite.example for trouble solving.";

// Web addresses opened from the help menu.
inline constexpr Text kHomePageUrl = "https://vantor-lite.example/";
inline constexpr Text kFaqPageUrl = "https://vantor-lite.example/faq.html";

// System log lines.
inline constexpr Text kApplicationStarts = "Application starts.";
inline constexpr Text kApplicationStops = "Application stops.";
// A file that an operator changed while the program ran, taken in.
inline constexpr Text kServiceXmlReloaded =
    "service.xml was changed on disk and has been reloaded.";
inline constexpr Text kSysInitReloaded = "SysInit.ini was changed on disk and has been reloaded.";
inline constexpr Text kSchedulingStarts = "Service scheduling starts.";
inline constexpr Text kSchedulingStops = "Service scheduling stops.";

// Scheduler and main window.
inline constexpr Text kStillProcessing = "This service is still under processing or retrying.";
inline constexpr Text kSelectServiceForUpdate =
    "Please select any service for update or delete by double click on below records.";
inline constexpr Text kApplicationClosing = "Application is closing, it may take a few seconds...";

// Service store.
inline constexpr Text kRecordNotFound = "Cannot find this record in xml file.";

// Service dialogs (wizard and update dialog).
inline constexpr Text kSelectSchedulingMethod = "Please select the scheduling method.";
inline constexpr Text kSelectValidMinuteHour = "Please select valid minute and hour.";
inline constexpr Text kHostFieldEmptyFmt = "%s host field is empty.";
inline constexpr Text kInvalidIntegerFmt = "%s is invalid integer or empty.";
inline constexpr Text kInputValidIp = "Please input valid IP.";
inline constexpr Text kInputValidPort = "Please input valid port.";
inline constexpr Text kNewServiceSetup = "New service has been setup successfully.";
inline constexpr Text kSelectService = "Please select service.";
inline constexpr Text kClickToTest = "Please click on the below button to test the connection.";
inline constexpr Text kSelectAlarmMethods = "Please select the below alarm method(s).";
inline constexpr Text kClickNext = "Click Next to next step...";
inline constexpr Text kClickToSave = "Click to save the new scheduling.";
inline constexpr Text kConnectionTesting = "Service connection is testing now.";
inline constexpr Text kConnectionTested = "Service connection has been tested.";
inline constexpr Text kRemoveExtraFieldHint =
    "You can right click or double click on the below list to remove the selected record.";
inline constexpr Text kServiceUpdated = "The service has been updated.";
inline constexpr Text kServiceDeleted = "The service has been deleted.";
inline constexpr Text kUpdateOrDelete = "You can update or delete this record.";

// Options dialog and alarm settings dialog.
inline constexpr Text kFieldEmptyFmt = "%s field is empty.";
inline constexpr Text kUpdatingSettings = "Updating the settings.";
inline constexpr Text kResetToDefault =
    "Reset the settings to default. Please click OK to save the settings, or Cancel to cancel "
    "the changes.";
inline constexpr Text kOptionSettingsSaved = "Option settings saved.";
inline constexpr Text kOptionSettingsCancel = "Updating option settings cancel.";
inline constexpr Text kSelectBackupPath = "Please select the backup SysLog file path.";
inline constexpr Text kFieldEmptyForTestFmt =
    "%s is empty. Please input this field for testing connection.";
inline constexpr Text kSmtpSending = "SMTP Message is sending out...";
inline constexpr Text kSmtpSent = "SMTP Message has been sent already.";
inline constexpr Text kSmtpError = "SMTP Error : ";
inline constexpr Text kSmsSending = "SMS Message is sending out...";
inline constexpr Text kSmsSent = "SMS Message has been sent already.";
inline constexpr Text kSmsError = "SMS Error : ";
inline constexpr Text kHttpSmsSending = "SMS ( by HTTP ) Message is sending out...";
inline constexpr Text kHttpSmsSent = "SMS ( by HTTP ) Message has been sent already.";
inline constexpr Text kHttpSmsError = "SMS ( by HTTP ) Error : ";
inline constexpr Text kSysLogSending = "SysLog Message is sending out...";
inline constexpr Text kSysLogSent = "SysLog Message has been sent already.";
inline constexpr Text kSysLogError = "SysLog Error : ";

// In the catalogue, shown by no operation.
inline constexpr Text kSelectValidService = "Please select the valid service.";
inline constexpr Text kSelectValidUrlMethod = "Please select the valid URL method";
inline constexpr Text kSelectContacts = "Please select contact(s) for the alarming method(s).";
inline constexpr Text kEitherFieldEmptyFmt = "%s or %s is empty. Please input this field.";
inline constexpr Text kIpFieldEmpty = "IP field is empty.";
inline constexpr Text kNewSchedulingSaved =
    "The new scheduling has been saved and will be effective now.";
inline constexpr Text kUpdateScheduleNow = "You can update schedule now.";
inline constexpr Text kFirstStartPatience =
    "Please be patient, it may take a few second for first start.";
inline constexpr Text kNoteEmailAlarm =
    "Note : Enable this option, the alarm can be sent out via email by SMTP.";
inline constexpr Text kNoteSnmpAlarm =
    "Note : Enable this option, the alarm can be sent out via SNMP message.";
inline constexpr Text kNoteSmsAlarm =
    "Note : Enable this option, the alarm can be sent out via SMS. Please note that it will "
    "append only 160 English charaters into the SMS message.";
inline constexpr Text kNoteHttpSmsAlarm =
    "Note : Enable this option, the alarm can be sent out via SMS by HTTP.";
inline constexpr Text kNoteSysLogAlarm =
    "Note : Enable this option, the alarm can be sent to BSD SysLog in other server "
    "(Linux/Unix).";
inline constexpr Text kNoteSysLogAlarmCheckBox =
    "Note : Enable this option, the alarm can be sent to other BSD SysLog server (Linux/Unix).";

// Fills each "%s" of a message pattern with the next argument, in order.
std::string FormatMessage(Text pattern, std::initializer_list<std::string_view> args);

}  // namespace vantor::app::msg
