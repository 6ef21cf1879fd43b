// SPDX-License-Identifier: Apache-2.0
#include "frame/MemoryHost.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

class BrokenResponse : public Response {
 public:
  void Write(const Variant&) override { throw StandardFailure(kInvalidCall); }
};

class BrokenContext : public ScriptingContext {
 public:
  std::shared_ptr<corvane::Request> Request() override { return nullptr; }
  std::shared_ptr<corvane::Response> Response() override {
    return std::make_shared<BrokenResponse>();
  }
};

TEST(MemoryHost, RequestIsGivenUpFrontAndReadOnce) {
  auto page =
      MemoryContext::New({"a=1&b=2", "x=y", {{"CONTENT_TYPE", "text/plain"}}});
  auto request = page->Request();
  EXPECT_EQ(request->TotalBytes(), 7);
  EXPECT_EQ(request->ServerVariables("content_type"), "text/plain");
  EXPECT_EQ(request->ServerVariables("HTTP_HOST"), "");
  EXPECT_EQ(request->QueryString(), "x=y");
  Variant count = request->TotalBytes();
  EXPECT_EQ(request->BinaryRead(count).ToBytes().data, "a=1&b=2");
  EXPECT_EQ(count.ToInt32(), 7);
  EXPECT_EQ(request->BinaryRead(count).ToBytes().data, "");
  EXPECT_EQ(count.ToInt32(), 0);
}

TEST(MemoryHost, WriteToPageAppendsTheBreakOnlyWithAContext) {
  auto page = MemoryContext::New();
  WriteToPage(page, "Failed");
  WriteToPage(page, "again");
  EXPECT_EQ(page->Output(), "Failed<br>again<br>");
  WriteToPage(nullptr, "nobody");
  WriteToPage(std::make_shared<BrokenContext>(), "swallowed");
}

// A description may echo what a visitor typed (an address in a server's
// reply, a file path): it reaches the page as text, never as markup.
TEST(MemoryHost, WriteToPageEscapesMarkupInTheText) {
  const std::pair<const char*, const char*> cases[] = {
      {"550 <a@b.example>: no such user",
       "550 &lt;a@b.example&gt;: no such user"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"Tom & \"Jerry\" 'x'", "Tom &amp; &quot;Jerry&quot; &#39;x&#39;"},
      {"&lt; stays text", "&amp;lt; stays text"},
  };
  for (const auto& [text, written] : cases) {
    auto page = MemoryContext::New();
    WriteToPage(page, text);
    EXPECT_EQ(page->Output(), std::string(written) + "<br>") << text;
  }
}

TEST(MemoryHost, ContextFromAcceptsOnlyContexts) {
  auto page = MemoryContext::New();
  EXPECT_EQ(ContextFrom(Variant(page)), page);
  EXPECT_EQ(ContextFrom(Variant()), nullptr);
  EXPECT_THROW(ContextFrom(Variant(page->Response())), Failure);
}

}  // namespace
}  // namespace corvane
