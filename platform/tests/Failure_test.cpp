// SPDX-License-Identifier: Apache-2.0
#include "platform/Failure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <stdexcept>

namespace corvane {
namespace {

TEST(ErrnoTable, MapsEveryGroupToItsNumber) {
  struct Row {
    int error;
    int32_t number;
  };
  for (Row row : {Row{ENOENT, 53}, {ENOTDIR, 76}, {EACCES, 75},  {EPERM, 75},
                  {EROFS, 75},     {EISDIR, 75},  {ETXTBSY, 75}, {EBUSY, 75},
                  {EEXIST, 58},    {ENOSPC, 61},  {EDQUOT, 61},  {EFBIG, 61},
                  {EIO, 57},       {EMFILE, 67},  {ENFILE, 67},  {EBADF, 52},
                  {EOVERFLOW, 6},  {ENOMEM, 7},   {EINVAL, 5},   {EXDEV, 5}}) {
    EXPECT_EQ(ErrorNumberFromErrno(row.error), row.number) << row.error;
  }
}

TEST(ErrnoTable, FailureCarriesStandardTextAndDetail) {
  Failure failure = FailureFromErrno(ENOSPC, "/tmp/x");
  EXPECT_EQ(failure.number, 61);
  EXPECT_EQ(failure.description, "Disk full: /tmp/x");
  EXPECT_EQ(FailureFromErrno(EACCES).description, "Path/File access error");
}

// One number for several refusals: the system's text, kept beside the
// description, tells them apart; the number and description stay as they are.
TEST(ErrnoTable, FailureKeepsTheSystemTextBesideTheDescription) {
  struct Row {
    int error;
    const char* text;
  };
  for (Row row : {Row{EACCES, "Permission denied"},
                  {EROFS, "Read-only file system"},
                  {ENOTEMPTY, "Directory not empty"},
                  {EBUSY, "Device or resource busy"}}) {
    Failure failure = FailureFromErrno(row.error, "/x");
    EXPECT_EQ(failure.number, kPathFileAccessError);
    EXPECT_EQ(failure.description, "Path/File access error: /x");
    EXPECT_EQ(failure.system_text, row.text);
  }
  EXPECT_EQ(StandardFailure(kPathFileAccessError).system_text, "");
  EXPECT_EQ(SystemErrorText(-1), "");
  try {
    throw FailureFromErrno(EROFS);
  } catch (...) {
    EXPECT_EQ(CurrentFailure("Unit").system_text, "Read-only file system");
  }
}

TEST(CurrentFailure, KeepsFailuresAndTranslatesOtherFaults) {
  auto handle = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return CurrentFailure("Unit");
    }
    return Failure(0, "", "");
  };
  Failure own = handle([] { throw Failure(-2147221503, "Mine", "text"); });
  EXPECT_EQ(own.source, "Mine");
  EXPECT_EQ(own.number, -2147221503);
  Failure platform = handle([] { throw StandardFailure(kFileNotFound); });
  EXPECT_EQ(platform.source, "Unit");
  Failure memory = handle([] { throw std::bad_alloc(); });
  EXPECT_EQ(memory.number, kOutOfMemory);
  EXPECT_EQ(memory.description, "Out of memory");
  Failure other = handle([] { throw std::runtime_error("odd"); });
  EXPECT_EQ(other.number, kInvalidCall);
  EXPECT_EQ(other.description, "odd");
}

}  // namespace
}  // namespace corvane
