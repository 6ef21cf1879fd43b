// SPDX-License-Identifier: Apache-2.0
#include "upload/upload.h"

#include <gtest/gtest.h>

#include "frame/MemoryHost.h"
#include "frame/Registry.h"
#include "platform/FileSystem.h"
#include "upload/tests/FileFaults.h"
#include "upload/tests/TestDirectory.h"
#include "upload/tests/UploadPage.h"

namespace corvane::cargane {
namespace {

using testing::kClosing;
using testing::Page;
using testing::TestDirectory;
using testing::TextPart;

TEST(UploadObject, NewObjectDefaults) {
  upload object;
  EXPECT_EQ(object.UserDiskQuota(), -1);
  EXPECT_EQ(object.MaxFileBytes(), -1);
  EXPECT_TRUE(object.RejectEmptyExtension());
  EXPECT_EQ(object.UpLoadPath(), "");
  EXPECT_EQ(object.NumOfUploadedFiles(), 0);
  EXPECT_EQ(object.GetLastErrNum(), 0);
  EXPECT_EQ(object.GetLastErrSource(), "");
  EXPECT_EQ(object.GetLastErrDescription(), "");
  EXPECT_EQ(object.UploadedFiles()->Count(), 0);
  EXPECT_EQ(object.FormItems()->Count(), 0);
  EXPECT_EQ(object.Form()->Count(), 0);
  EXPECT_EQ(object.Form(), object.Form());
}

TEST(UploadObject, UpLoadPathGainsASeparatorAndIgnoresEmpty) {
  upload object;
  object.UpLoadPath("/srv/up");
  EXPECT_EQ(object.UpLoadPath(), "/srv/up/");
  object.UpLoadPath("/srv/up/");
  EXPECT_EQ(object.UpLoadPath(), "/srv/up/");
  object.UpLoadPath("");
  EXPECT_EQ(object.UpLoadPath(), "/srv/up/");
}

TEST(UploadObject, ExtensionListWithoutCallAllowsNothingWithAnExtension) {
  upload object;
  EXPECT_FALSE(object.IsExtensionAllowed("a.gif"));
  EXPECT_FALSE(object.IsExtensionAllowed("README"));
  object.RejectEmptyExtension(false);
  EXPECT_TRUE(object.IsExtensionAllowed("README"));
  object.FileExtensionList({});
  EXPECT_TRUE(object.IsExtensionAllowed("a.anything"));
  object.FileExtensionList({Variant("gif")});
  EXPECT_FALSE(object.IsExtensionAllowed("a.jpg"));
  EXPECT_TRUE(object.IsExtensionAllowed("a.gif"));
}

TEST(UploadObject, FormIsKeyedWithoutRegardToCase) {
  TestDirectory dir;
  Page page(dir.Path());
  auto form = page.object->Form();
  EXPECT_EQ(page.Run(TextPart("title", "Holiday") + kClosing), 1);
  EXPECT_EQ(form->Item("title").ToText(), "Holiday");
  EXPECT_EQ(form->Item("TITLE").ToText(), "Holiday");
  EXPECT_EQ(
      page.Items(),
      (std::vector<std::pair<std::string, std::string>>{{"title", "Holiday"}}));
}

TEST(UploadObject, OnStartPageWantsAScriptingContext) {
  upload object;
  EXPECT_THROW(object.OnStartPage(Variant(std::make_shared<upload>())),
               Failure);
}

// The registered library, reached by ProgID as a page script reaches it.
class UploadByProgId : public ::testing::Test {
 protected:
  std::shared_ptr<Dispatch> object = CreateObject("Corvane.upload");
};

TEST_F(UploadByProgId, MembersStandInInterfaceOrder) {
  const char* order[] = {"OnStartPage",
                         "OnEndPage",
                         "upload",
                         "CheckFileName",
                         "ExtractFileName",
                         "FileExtensionList",
                         "UserDiskQuota",
                         "MaxFileBytes",
                         "RejectEmptyExtension",
                         "UpLoadPath",
                         "GetLastErrNum",
                         "GetLastErrSource",
                         "GetLastErrDescription",
                         "UploadedFiles",
                         "FormItems",
                         "Form",
                         "NumOfUploadedFiles"};
  const auto& members = object->Class().members();
  ASSERT_EQ(members.size(), std::size(order));
  for (size_t i = 0; i < members.size(); ++i) {
    EXPECT_EQ(members[i].name, order[i]);
  }
  EXPECT_EQ(object->Get("RejectEmptyExtension"), Variant(true));
  EXPECT_EQ(object->Get("UserDiskQuota"), Variant(int32_t{-1}));
  EXPECT_EQ(object->Get("NumOfUploadedFiles"), Variant(int16_t{0}));
}

TEST_F(UploadByProgId, NameMethodsWriteBackByReference) {
  Arguments quoted{Variant("\"report.txt\"")};
  EXPECT_EQ(object->Call("CheckFileName", quoted).ToText(), "report.txt");
  EXPECT_EQ(quoted[0].ToText(), "report.txt");
  Arguments path{Variant("C:\\docs\\a.gif")};
  EXPECT_EQ(object->Call("ExtractFileName", path).ToText(), "a.gif");
  EXPECT_EQ(path[0].ToText(), "C:\\docs\\a.gif");
  Arguments not_text{Variant(std::shared_ptr<Dispatch>(object))};
  EXPECT_EQ(object->Call("ExtractFileName", not_text).ToText(), "");
}

TEST_F(UploadByProgId, FileExtensionListTakesAnyNumberOfArguments) {
  TestDirectory dir;
  object->Put("UpLoadPath", dir.Path());
  object->Call("FileExtensionList", {Variant("gif"), Variant("jpg")});
  auto page =
      MemoryContext::New({testing::FilePart("f", "Photo.GIF", "1") +
                              testing::FilePart("g", "x.png", "2") + kClosing,
                          "",
                          {{"CONTENT_TYPE", testing::kContentType}}});
  object->Call("OnStartPage", {page});
  EXPECT_EQ(object->Call("upload"), Variant(int16_t{-6}));
  EXPECT_EQ(dir.Names(), std::set<std::string>{"Photo.GIF"});
  auto files = object->Get("UploadedFiles").ToObject();
  auto record = files->Get("Item", {Variant(int32_t{1})}).ToObject();
  EXPECT_EQ(record->Get("FileName").ToText(), "Photo.GIF");
  EXPECT_EQ(record->Get("FileLen"), Variant(int32_t{1}));
  EXPECT_THROW(
      object->Call("FileExtensionList", {Variant("gif"), Variant(object)}),
      Failure);
}

// The library loaded from the registry shares the host's runtime: a file
// system installed by the host is the one its objects write through.
TEST_F(UploadByProgId, SeesTheFileSystemTheHostInstalled) {
  TestDirectory dir;
  testing::FillingDisk full_disk(platform::Files(), 0);
  platform::ScopedFileSystem scope(full_disk);
  object->Put("UpLoadPath", dir.Path());
  object->Call("FileExtensionList", {});
  auto page =
      MemoryContext::New({testing::FilePart("f", "a.txt", "data") + kClosing,
                          "",
                          {{"CONTENT_TYPE", testing::kContentType}}});
  object->Call("OnStartPage", {page});
  EXPECT_EQ(object->Call("upload"), Variant(int16_t{-7}));
  EXPECT_EQ(object->Call("GetLastErrNum"), Variant(int32_t{61}));
}

}  // namespace
}  // namespace corvane::cargane
