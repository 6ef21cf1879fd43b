// SPDX-License-Identifier: Apache-2.0
#include "frame/CgiHost.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Process.h"

namespace corvane {
namespace {

using platform::EnvironmentVariable;

class CgiResponse;

class CgiRequest : public Request {
 public:
  CgiRequest(int64_t max_body_bytes, CgiResponse& response)
      : max_body_bytes_(max_body_bytes), response_(response) {}

  int32_t TotalBytes() override {
    return static_cast<int32_t>(std::min<int64_t>(ClaimedLength(), INT32_MAX));
  }

  // The body is read only when its claimed length is within the limit;
  // each call delivers the next bytes, up to `count` and never beyond the
  // claimed length. The buffer grows with the bytes that arrive, not with
  // the claim.
  Variant BinaryRead(Variant& count) override {
    std::string bytes;
    if (!limit_checked_) {
      limit_checked_ = true;
      RefuseAboveLimit();
      within_limit_ = true;
    }
    if (within_limit_) {
      int64_t left = std::max<int64_t>(TotalBytes() - bytes_read_, 0);
      auto wanted =
          static_cast<size_t>(std::clamp<int64_t>(count.ToInt32(), 0, left));
      bytes = platform::ReadStandardInput(wanted);
      bytes_read_ += static_cast<int64_t>(bytes.size());
    }
    count = static_cast<int32_t>(bytes.size());
    return Bytes{std::move(bytes)};
  }

  std::string ServerVariables(std::string_view name) override {
    return EnvironmentVariable(std::string(name)).value_or("");
  }

  std::string QueryString() override {
    return EnvironmentVariable("QUERY_STRING").value_or("");
  }

 private:
  void RefuseAboveLimit();
  // The length that CONTENT_LENGTH claims (0 when it is not set); a
  // malformed one fails (5) and the answer says "400 Bad Request".
  int64_t ClaimedLength();

  int64_t max_body_bytes_;
  CgiResponse& response_;
  bool limit_checked_ = false;
  bool within_limit_ = false;
  int64_t bytes_read_ = 0;
};

class CgiResponse : public Response {
 public:
  explicit CgiResponse(std::string content_type)
      : content_type_(std::move(content_type)) {}

  void Write(const Variant& text) override {
    std::string data = text.ToText();
    WriteHeader();
    platform::WriteStandardOutput(data);
  }

  void WriteHeader() {
    if (header_written) return;
    header_written = true;
    platform::WriteStandardOutput(
        status_line + "Content-Type: " + content_type_ + "\r\n\r\n");
  }

  bool header_written = false;
  // A "Status:" header line for the web server; empty for 200.
  std::string status_line;

 private:
  std::string content_type_;
};

int64_t CgiRequest::ClaimedLength() {
  if (auto length = platform::ContentLength()) return *length;
  response_.status_line = "Status: 400 Bad Request\r\n";
  throw MalformedContentLength(
      EnvironmentVariable("CONTENT_LENGTH").value_or(""));
}

void CgiRequest::RefuseAboveLimit() {
  int64_t claimed = ClaimedLength();
  if (claimed <= max_body_bytes_) return;
  response_.status_line = "Status: 413 Payload Too Large\r\n";
  throw BodyAboveLimit(claimed, max_body_bytes_);
}

}  // namespace

Failure MalformedContentLength(std::string_view text) {
  return Failure(kInvalidCall, "",
                 "The request's CONTENT_LENGTH \"" + std::string(text) +
                     "\" is not a number of bytes.");
}

Failure BodyAboveLimit(int64_t claimed, int64_t limit) {
  return Failure(kInvalidCall, "",
                 "The request body of " + std::to_string(claimed) +
                     " bytes is larger than the limit of " +
                     std::to_string(limit) + " bytes; it was not read.");
}

CgiContext::CgiContext(std::string content_type, int64_t max_body_bytes) {
  auto response = std::make_shared<CgiResponse>(std::move(content_type));
  request_ = std::make_shared<CgiRequest>(max_body_bytes, *response);
  response_ = std::move(response);
}

bool CgiContext::HeaderWritten() const {
  return static_cast<const CgiResponse&>(*response_).header_written;
}

void CgiContext::WriteHeader() {
  static_cast<CgiResponse&>(*response_).WriteHeader();
}

}  // namespace corvane
