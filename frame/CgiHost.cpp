#include "frame/CgiHost.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Process.h"

namespace corvane {
namespace {

using platform::EnvironmentVariable;

class CgiRequest : public Request {
 public:
  int32_t TotalBytes() override {
    auto length = EnvironmentVariable("CONTENT_LENGTH");
    if (!length) return 0;
    long long value = std::atoll(length->c_str());
    return static_cast<int32_t>(std::clamp<long long>(value, 0, INT32_MAX));
  }

  Variant BinaryRead(Variant& count) override {
    std::string bytes;
    if (!body_read_) {
      body_read_ = true;
      size_t wanted = static_cast<size_t>(
          std::clamp(count.ToInt32(), int32_t{0}, TotalBytes()));
      bytes = platform::ReadStandardInput(wanted);
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
  bool body_read_ = false;
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
    platform::WriteStandardOutput("Content-Type: " + content_type_ +
                                  "\r\n\r\n");
  }

  bool header_written = false;

 private:
  std::string content_type_;
};

}  // namespace

CgiContext::CgiContext(std::string content_type)
    : request_(std::make_shared<CgiRequest>()),
      response_(std::make_shared<CgiResponse>(std::move(content_type))) {}

bool CgiContext::HeaderWritten() const {
  return static_cast<const CgiResponse&>(*response_).header_written;
}

void CgiContext::WriteHeader() {
  static_cast<CgiResponse&>(*response_).WriteHeader();
}

}  // namespace corvane
