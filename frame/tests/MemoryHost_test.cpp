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
  WriteToPage(page, "<b>Failed</b>");
  WriteToPage(page, "again");
  EXPECT_EQ(page->Output(), "<b>Failed</b><br>again<br>");
  WriteToPage(nullptr, "nobody");
  WriteToPage(std::make_shared<BrokenContext>(), "swallowed");
}

TEST(MemoryHost, ContextFromAcceptsOnlyContexts) {
  auto page = MemoryContext::New();
  EXPECT_EQ(ContextFrom(Variant(page)), page);
  EXPECT_EQ(ContextFrom(Variant()), nullptr);
  EXPECT_THROW(ContextFrom(Variant(page->Response())), Failure);
}

}  // namespace
}  // namespace corvane
