// SPDX-License-Identifier: Apache-2.0
#include "mail/SendLog.h"

#include <cstdio>

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "platform/SystemFolders.h"

namespace corvane::penrill {

std::string SendLogPath() {
  auto directory = platform::EnvironmentVariable("CORVANE_LOG_DIR");
  std::string folder;
  if (directory && !directory->empty()) {
    folder = *directory;
    if (folder.back() != '/') folder += '/';
  } else {
    folder = platform::SystemFolderPath(platform::SystemFolder::kLog);
  }
  return folder + std::string(kSendLogName);
}

std::string LogTimestamp(const std::tm& local) {
  int hour = local.tm_hour % 12;
  if (hour == 0) hour = 12;
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d %s",
                local.tm_mon + 1, local.tm_mday, local.tm_year % 100, hour,
                local.tm_min, local.tm_sec, local.tm_hour < 12 ? "AM" : "PM");
  return text;
}

std::string LoggedValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(value.size());
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    }
  }
  return shown;
}

std::string SendLogEntry(const std::tm& local, std::string_view first_to,
                         std::string_view from, std::string_view subject,
                         std::string_view status) {
  std::string entry = LogTimestamp(local);
  entry.append("\r\nTo: ").append(LoggedValue(first_to));
  entry.append("\r\nFrom: ").append(LoggedValue(from));
  entry.append("\r\nSubject: ").append(LoggedValue(subject));
  entry.append("\r\nStatus: ").append(LoggedValue(status));
  entry.append("\r\n \r\n");
  return entry;
}

void AppendSendLog(std::string_view first_to, std::string_view from,
                   std::string_view subject, std::string_view status) {
  platform::CivilTime now = platform::LocalNow();
  std::tm local{};
  local.tm_year = now.year - 1900;
  local.tm_mon = now.month - 1;
  local.tm_mday = now.day;
  local.tm_hour = now.hour;
  local.tm_min = now.minute;
  local.tm_sec = now.second;
  auto writer =
      platform::Files().OpenWriter(SendLogPath(), platform::WriteMode::kAppend);
  writer->Write(SendLogEntry(local, first_to, from, subject, status));
  writer->Close();
}

}  // namespace corvane::penrill
