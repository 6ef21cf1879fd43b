// SPDX-License-Identifier: Apache-2.0
// The mail component's send log "SendMail.log": where it lives and the
// six-line entry that each SendMail appends when LogEvent is on.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace corvane::penrill {

// The log's name.
inline constexpr std::string_view kSendLogName = "SendMail.log";

// The log's full path: in $CORVANE_LOG_DIR when it is set and not empty,
// else in the suite's log folder (/var/log/corvane/, or the build's bin/ in
// a build tree). Never fails.
std::string SendLogPath();

// "mm/dd/yy hh:mm:ss AM" of a local time.
std::string LogTimestamp(const std::tm& local);

// A value as the log shows it: control characters (CR, LF, tab, the rest
// as \xHH) written as visible escapes, so that no value can start a line
// or an entry of its own. Never fails.
std::string LoggedValue(std::string_view value);

// The six lines of one entry, each ended by CR LF: time stamp, "To: ",
// "From: ", "Subject: ", "Status: " and a single space; the values as
// LoggedValue shows them.
std::string SendLogEntry(const std::tm& local, std::string_view first_to,
                         std::string_view from, std::string_view subject,
                         std::string_view status);

// Appends one entry stamped with the present local time; throws Failure
// when the log cannot be opened or written.
void AppendSendLog(std::string_view first_to, std::string_view from,
                   std::string_view subject, std::string_view status);

}  // namespace corvane::penrill
