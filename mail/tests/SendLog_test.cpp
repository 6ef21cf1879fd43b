// SPDX-License-Identifier: Apache-2.0
#include "mail/SendLog.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace corvane::penrill {
namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(SendLog, TimestampInShortDateAndTwelveHourTime) {
  EXPECT_EQ(LogTimestamp(At(2026, 12, 7, 0, 5, 9)), "12/07/26 12:05:09 AM");
  EXPECT_EQ(LogTimestamp(At(2026, 1, 2, 12, 0, 0)), "01/02/26 12:00:00 PM");
  EXPECT_EQ(LogTimestamp(At(2031, 6, 30, 23, 59, 59)), "06/30/31 11:59:59 PM");
}

TEST(SendLog, EntryHasSixLines) {
  EXPECT_EQ(SendLogEntry(At(2026, 12, 7, 13, 4, 5), "A <a@example.org>",
                         "b@example.org", "Hi", "Successful."),
            "12/07/26 01:04:05 PM\r\nTo: A <a@example.org>\r\n"
            "From: b@example.org\r\nSubject: Hi\r\nStatus: Successful.\r\n"
            " \r\n");
  EXPECT_EQ(SendLogEntry(At(2026, 12, 7, 13, 4, 5), "", "", "", "x").substr(20),
            "\r\nTo: \r\nFrom: \r\nSubject: \r\nStatus: x\r\n \r\n");
}

TEST(SendLog, ControlCharactersCannotForgeEntries) {
  const std::pair<std::string, std::string> cases[] = {
      {"Hi\r\n \r\n01/01/26 09:00:00 AM\r\nTo: boss@example.org",
       "Hi\\r\\n \\r\\n01/01/26 09:00:00 AM\\r\\nTo: boss@example.org"},
      {"tab\there", "tab\\there"},
      {std::string("nul\0bell\a\x7F", 10), "nul\\x00bell\\x07\\x7F"},
      {"C:\\path \xC3\xA9t\xC3\xA9", "C:\\path \xC3\xA9t\xC3\xA9"},
  };
  for (const auto& [value, shown] : cases) {
    EXPECT_EQ(LoggedValue(value), shown);
    std::string entry =
        SendLogEntry(At(2026, 12, 7, 13, 4, 5), value, value, value, value);
    size_t lines = 0;
    for (size_t at = entry.find("\r\n"); at != std::string::npos;
         at = entry.find("\r\n", at + 2)) {
      ++lines;
    }
    EXPECT_EQ(lines, 6u) << shown;
    EXPECT_NE(entry.find("\r\nSubject: " + shown + "\r\n"), std::string::npos);
  }
}

TEST(SendLog, PathFollowsTheEnvironment) {
  ::setenv("CORVANE_LOG_DIR", "/var/log/corvane", 1);
  EXPECT_EQ(SendLogPath(), "/var/log/corvane/SendMail.log");
  ::setenv("CORVANE_LOG_DIR", "/var/log/corvane/", 1);
  EXPECT_EQ(SendLogPath(), "/var/log/corvane/SendMail.log");
  ::unsetenv("CORVANE_LOG_DIR");
  std::string beside = SendLogPath();
  EXPECT_TRUE(beside.ends_with("/SendMail.log"));
  EXPECT_EQ(beside.front(), '/');
}

}  // namespace
}  // namespace corvane::penrill
