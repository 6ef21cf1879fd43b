// SPDX-License-Identifier: Apache-2.0
// A file sent as the answer to a GET: read in pieces as the connection
// takes them, so that memory stays flat whatever its size, with the
// validators (ETag, Last-Modified) that let a client resume a download of
// the same file by ranges and never splice two versions together.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileSystem.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace corvane::web {

struct FileBody {
  std::shared_ptr<platform::FileReader> reader;
  uint64_t size = 0;
  // The file's last write, in 100-ns intervals since 1601 (FileInfo's).
  int64_t last_write_time = 0;
};

// The strong entity tag of a version of a file: its size and last write.
std::string EntityTag(const FileBody& file);

// An instant as an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDate(int64_t unix_seconds);

// Answers `request` with the file: 304 when the client's validator names
// this version, else 200, or 206 for the ranges asked (the HTTP library
// cuts them); a Range whose If-Range names another version gets the whole
// file. A read that fails midway ends the connection early, so the client
// sees a short answer rather than a complete-looking wrong one. Never
// throws.
void SendFile(const httplib::Request& request, httplib::Response& response,
              const FileBody& file, const std::string& content_type);

}  // namespace corvane::web
