// SPDX-License-Identifier: Apache-2.0
// A CGI program that reports what CgiHost received, for the web-server test:
// the body's length and bytes, CONTENT_TYPE and the query string.
#include <cstdio>

#include "frame/CgiHost.h"

int main() {
  auto context = corvane::CgiContext::New("text/plain");
  auto request = context->Request();
  corvane::Variant count = request->TotalBytes();
  int32_t total = count.ToInt32();
  std::string body = request->BinaryRead(count).ToBytes().data;
  auto response = context->Response();
  response->Write("total=" + std::to_string(total) + "\n");
  response->Write("read=" + count.ToText() + "\n");
  response->Write("type=" + request->ServerVariables("CONTENT_TYPE") + "\n");
  response->Write("query=" + request->QueryString() + "\n");
  response->Write("body=" + body);
  return 0;
}
