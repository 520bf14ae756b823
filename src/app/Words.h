// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The fixed words the operator sees and service.xml stores, named once.
namespace vantor::words {

// A service's last result ("Current Status" column, service_status).
inline constexpr const char* kPassed = "Passed";
inline constexpr const char* kFailed = "Failed";
inline constexpr const char* kProcess = "Process";
inline constexpr const char* kRetry = "Retry";
// service_status of a record that was never checked.
inline constexpr const char* kUnknown = "Unknown";

// An alarm row's status.
inline constexpr const char* kPending = "Pending";
inline constexpr const char* kSent = "Sent";
inline constexpr const char* kError = "Error";

// A record's run state (status).
inline constexpr const char* kStart = "Start";
inline constexpr const char* kStop = "Stop";

// Kinds of service (the record's service element).
inline constexpr const char* kUrl = "URL";
inline constexpr const char* kPing = "Ping";
inline constexpr const char* kSmtp = "SMTP";
inline constexpr const char* kPop3 = "POP3";
inline constexpr const char* kImap = "IMAP";
inline constexpr const char* kFtp = "FTP";
inline constexpr const char* kDatabase = "Database";

// Schedule kinds (schedule_by).
inline constexpr const char* kDaily = "Daily";
inline constexpr const char* kHourly = "Hourly";
inline constexpr const char* kMinutely = "Minutely";

// View filters beside the kinds.
inline constexpr const char* kAll = "ALL";
inline constexpr const char* kEmail = "Email";

// Who queued a check: the scheduler or the wizard's test.
inline constexpr const char* kOriginProduct = "Product";
inline constexpr const char* kOriginSetup = "Setup";

}  // namespace vantor::words
