// SPDX-License-Identifier: Apache-2.0
#include "web/HttpHost.h"

#include <gtest/gtest.h>
#include <httplib.h>

namespace corvane::web {
namespace {

httplib::Request MultipartPost() {
  httplib::Request request;
  request.method = "POST";
  request.path = "/upload";
  request.target = "/upload?folder=a&x=1";
  request.version = "HTTP/1.1";
  request.remote_addr = "127.0.0.1";
  request.remote_port = 50000;
  request.headers = {{"Host", "127.0.0.1:8080"},
                     {"Content-Type", "multipart/form-data; boundary=b"},
                     {"Content-Length", "4"},
                     {"Accept-Language", "en"},
                     {"Corvane-Kept-Content-Type", "forged"}};
  return request;
}

TEST(HttpHost, TheRequestReadsAsCgiVariablesWithTheBodyOnce) {
  auto request = MultipartPost();
  KeepBodyWhole(request);
  EXPECT_FALSE(request.is_multipart_form_data());
  auto context = HttpContext::New(request, {"127.0.0.1", 8080}, "body");
  auto page = context->Request();
  const std::pair<const char*, const char*> expected[] = {
      {"CONTENT_TYPE", "multipart/form-data; boundary=b"},
      {"content_length", "4"},
      {"REQUEST_METHOD", "POST"},
      {"QUERY_STRING", "folder=a&x=1"},
      {"SCRIPT_NAME", "/upload"},
      {"SERVER_NAME", "127.0.0.1"},
      {"SERVER_PORT", "8080"},
      {"SERVER_PROTOCOL", "HTTP/1.1"},
      {"REMOTE_ADDR", "127.0.0.1"},
      {"REMOTE_PORT", "50000"},
      {"HTTP_HOST", "127.0.0.1:8080"},
      {"HTTP_ACCEPT_LANGUAGE", "en"},
      {"HTTP_CORVANE_KEPT_CONTENT_TYPE", ""},
      {"HTTP_CONTENT_TYPE", ""},
  };
  for (const auto& [name, value] : expected) {
    EXPECT_EQ(page->ServerVariables(name), value) << name;
  }
  EXPECT_EQ(page->QueryString(), "folder=a&x=1");
  EXPECT_EQ(page->TotalBytes(), 4);
  Variant count = 4;
  EXPECT_EQ(page->BinaryRead(count).ToBytes().data, "body");
  EXPECT_EQ(page->BinaryRead(count).ToBytes().data, "");
  EXPECT_EQ(count.ToInt32(), 0);
}

TEST(HttpHost, TheResponseKeepsWhatThePageWrote) {
  auto context = HttpContext::New(MultipartPost(), {"h", 1}, "");
  context->Response()->Write("a<br>");
  context->Response()->Write(Variant(int32_t{7}));
  EXPECT_EQ(context->Output(), "a<br>7");
}

}  // namespace
}  // namespace corvane::web
