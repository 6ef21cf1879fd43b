// SPDX-License-Identifier: Apache-2.0
#include "upload/MultipartUpload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "upload/tests/FileFaults.h"
#include "upload/tests/TestDirectory.h"
#include "upload/tests/UploadPage.h"

namespace corvane::cargane {
namespace {

using testing::FilePart;
using testing::FillingDisk;
using testing::HugeFileSystem;
using testing::kClosing;
using testing::Page;
using testing::RefusingRename;
using testing::RefusingWrites;
using testing::StoredRecord;
using testing::TestDirectory;
using testing::TextPart;
using Names = std::set<std::string>;

TEST(GetHeaderParam, ParametersAreTokensOrQuotedStrings) {
  std::string header =
      "Content-Disposition: form-data; name=\"f\"; filename=\"a.gif\"\r\n"
      "Content-Type: image/gif\r\n\r\n";
  const struct {
    std::string_view header, name, value;
  } cases[] = {
      {header, "name", "f"},
      {header, "filename", "a.gif"},
      {header, "size", ""},
      // Whole parameter names, without regard to case.
      {"form-data; filename=\"a\"; name=\"f\"", "name", "f"},
      {"form-data; Name=\"f\"", "name", "f"},
      // Unquoted tokens end at ";" or the line end.
      {"form-data; name=f; filename=a.gif\r\nX: y", "filename", "a.gif"},
      {"multipart/form-data; boundary=XyZ; charset=utf-8", "boundary", "XyZ"},
      {"multipart/form-data; boundary=\"XyZ\"", "boundary", "XyZ"},
      // Quoted values are taken as written: ";" and "=" inside, backslashes.
      {"form-data; name=\"a;b=c\"; filename=\"C:\\d\\x.gif\"", "filename",
       "C:\\d\\x.gif"},
      {"form-data; name=\"a;b=c\"; filename=\"C:\\d\\x.gif\"", "name", "a;b=c"},
      {"form-data; name=\"x; filename=evil.php\"", "filename", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetHeaderParam(c.header, c.name), c.value) << c.header;
  }
  EXPECT_FALSE(FindHeaderParam("form-data; name=\"f\"", "filename"));
  EXPECT_EQ(FindHeaderParam("form-data; filename=\"\"", "filename"), "");
  EXPECT_THROW(GetHeaderParam("name=\"open", "name"), Failure);
}

// --- Preparation: body, content type, directory and quota ---------------

TEST(UploadPreparation, NoBodyReturnsOneAndTouchesNothing) {
  TestDirectory dir;
  Page page(dir.Path() + "never");
  EXPECT_EQ(page.Run(""), 1);
  EXPECT_EQ(page.object->NumOfUploadedFiles(), 0);
  EXPECT_EQ(page.object->UploadedFiles()->Count(), 0);
  EXPECT_FALSE(dir.Has("never"));
}

TEST(UploadPreparation, BoundaryIsAParameterOfTheContentType) {
  TestDirectory dir;
  std::string body = FilePart("f", "a.txt", "x") + kClosing;
  for (const char* type :
       {"multipart/form-data; boundary=AaB03x",
        "multipart/form-data; boundary=\"AaB03x\"",
        "multipart/form-data; boundary=AaB03x; charset=utf-8",
        "multipart/form-data; Boundary=AaB03x"}) {
    Page page(dir.Path());
    EXPECT_EQ(page.Run(body, {}, type), 1) << type;
    EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"a.txt", "f", 1}}));
  }
  for (const char* type : {"multipart/form-data",
                           "multipart/form-data; "
                           "boundary=\"\""}) {
    EXPECT_EQ(Page(dir.Path()).Run(body, {}, type), -9) << type;
  }
}

TEST(UploadPreparation, WithoutARequestObjectFailsWithMinusSeven) {
  upload object;
  EXPECT_EQ(object.Upload(), -7);
  EXPECT_EQ(object.GetLastErrNum(), kObjectRequired);
  EXPECT_EQ(object.GetLastErrSource(), "Cargane");
}

TEST(UploadPreparation, DirectoryIsCreatedOrRefusedWithMinusFive) {
  TestDirectory dir;
  Page created(dir.Path() + "a/b");
  EXPECT_EQ(created.Run(FilePart("f", "x.txt", "1") + kClosing), 1);
  EXPECT_EQ(dir.Read("a/b/x.txt"), "1");
  EXPECT_EQ(created.object->UpLoadPath(), dir.Path() + "a/b/");

  dir.Put("plain", "not a directory");
  Page refused(dir.Path() + "plain/up");
  EXPECT_EQ(refused.Run(FilePart("f", "x.txt", "1") + kClosing), -5);
  EXPECT_EQ(refused.object->UpLoadPath(), "");
  EXPECT_EQ(refused.object->GetLastErrNum(), 0);
}

TEST(UploadPreparation, UnsetPathWritesNothing) {
  Page page;
  EXPECT_EQ(page.Run(FilePart("f", "cargane-unset-path.txt", "x") + kClosing),
            -5);
  EXPECT_EQ(page.object->UpLoadPath(), "");
  EXPECT_FALSE(std::filesystem::exists("/cargane-unset-path.txt"));
  EXPECT_EQ(page.object->NumOfUploadedFiles(), 0);
}

// --- The part loop -------------------------------------------------------

TEST(UploadParts, TwoFilesAndATextFieldInBodyOrder) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body =
      FilePart("f1", "one.gif", "GIF89a") + TextPart("title", "Holiday") +
      FilePart("f2", "two.jpg", std::string(300, '\0')) + kClosing;
  EXPECT_EQ(page.Run(body), 1);
  EXPECT_EQ(page.object->NumOfUploadedFiles(), 2);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"one.gif", "f1", 6},
                                                     {"two.jpg", "f2", 300}}));
  EXPECT_EQ(
      page.Items(),
      (std::vector<std::pair<std::string, std::string>>{{"title", "Holiday"}}));
  EXPECT_EQ(page.object->Form()->Item("TITLE").ToText(), "Holiday");
  EXPECT_EQ(dir.Read("two.jpg"), std::string(300, '\0'));
  EXPECT_EQ(dir.Names(), (Names{"one.gif", "two.jpg"}));
}

TEST(UploadParts, ClosingDelimiterMayEndTheBodyOrBeFollowedByALineBreak) {
  TestDirectory dir;
  std::string parts = TextPart("a", "1");
  EXPECT_EQ(Page(dir.Path()).Run(parts + "--AaB03x--"), 1);
  EXPECT_EQ(Page(dir.Path()).Run(parts + "--AaB03x--\r\n"), 1);
}

TEST(UploadParts, EmptyFilePartStoresAnEmptyFile) {
  TestDirectory dir;
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "empty.txt", "") + kClosing), 1);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"empty.txt", "f", 0}}));
  EXPECT_TRUE(dir.Has("empty.txt"));
}

TEST(UploadParts, EmptyFileInputStillCountsForServerName) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body = FilePart("f1", "", "") + FilePart("f2", "b.txt", "B") +
                     TextPart("", "nameless") + kClosing;
  EXPECT_EQ(page.Run(body, "ServerName1=one.txt&ServerName2=two.txt"), 1);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"two.txt", "f2", 1}}));
  EXPECT_TRUE(page.Items().empty());
  EXPECT_EQ(dir.Names(), (Names{"two.txt"}));
}

TEST(UploadParts, ServerNameOverridesUnlessCheckFileNameRefusesIt) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body =
      FilePart("f1", "C:\\docs\\a.gif", "1") + FilePart("f2", "b.gif", "2");
  EXPECT_EQ(page.Run(body + kClosing,
                     "ServerName1=report.txt&ServerName2="
                     "x%5Cy.txt"),
            1);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"report.txt", "f1", 1},
                                                     {"b.gif", "f2", 1}}));
  EXPECT_EQ(dir.Names(), (Names{"report.txt", "b.gif"}));
}

TEST(UploadParts, BrowserDirectoryIsCutOff) {
  TestDirectory dir;
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "C:\\docs\\a.gif", "x") +
                     FilePart("g", "/home/u/b.gif", "y") + kClosing),
            1);
  EXPECT_EQ(dir.Names(), (Names{"a.gif", "b.gif"}));
}

TEST(UploadParts, RefusedExtensionSkipsOnlyThatPart) {
  TestDirectory dir;
  Page page(dir.Path());
  page.object->FileExtensionList({Variant("gif")});
  std::string body = FilePart("f1", "a.exe", "MZ") + TextPart("t", "v") +
                     FilePart("f2", "b.gif", "G") + kClosing;
  EXPECT_EQ(page.Run(body), -6);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"b.gif", "f2", 1}}));
  EXPECT_EQ(page.Items().size(), 1u);
  EXPECT_EQ(dir.Names(), (Names{"b.gif"}));
}

TEST(UploadParts, ExtensionIsCheckedOnTheBrowserName) {
  TestDirectory dir;
  Page page(dir.Path());
  page.object->FileExtensionList({Variant("gif")});
  EXPECT_EQ(page.Run(FilePart("f", "a.gif", "x") + kClosing,
                     "ServerName1=stored.gif"),
            1);
  EXPECT_EQ(dir.Names(), (Names{"stored.gif"}));
}

// A page-given name must pass the extension list too: otherwise a visitor
// who adds ServerName1 to the address picks any extension.
TEST(UploadParts, OverrideWithARefusedExtensionIsIgnored) {
  for (const char* query : {"ServerName1=shell.php", "ServerName1=.htaccess",
                            "ServerName1=x.GIF.php", "ServerName1=noext"}) {
    TestDirectory dir;
    Page page(dir.Path());
    page.object->FileExtensionList({Variant("gif")});
    EXPECT_EQ(page.Run(FilePart("f", "a.gif", "x") + kClosing, query), 1)
        << query;
    EXPECT_EQ(dir.Names(), (Names{"a.gif"})) << query;
  }
}

TEST(UploadParts, UnquotedFileNameIsAFile) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body =
      "--AaB03x\r\nContent-Disposition: form-data; name=f; filename=a.gif\r\n"
      "\r\nGIF\r\n--AaB03x\r\nContent-Disposition: form-data; name=t\r\n\r\n"
      "v\r\n" +
      kClosing;
  EXPECT_EQ(page.Run(body), 1);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"a.gif", "f", 3}}));
  EXPECT_EQ(page.Items(),
            (std::vector<std::pair<std::string, std::string>>{{"t", "v"}}));
}

// A delimiter is the boundary at the start of the body or of a line; the
// same text elsewhere is content.
TEST(UploadParts, BoundaryTextInsideContentIsContent) {
  const std::string contents[] = {"head--AaB03xtail", "--AaB03x", "a\n--AaB03x",
                                  "x\r--AaB03x--", "--AaB03x--\r\nmore"};
  for (const std::string& content : contents) {
    TestDirectory dir;
    dir.Put("a.txt", "previous");
    Page page(dir.Path());
    EXPECT_EQ(page.Run(FilePart("f", "a.txt", "start " + content) +
                       TextPart("t", "v " + content) + kClosing),
              1)
        << content;
    EXPECT_EQ(dir.Read("a.txt"), "start " + content);
    EXPECT_EQ(page.Items(), (std::vector<std::pair<std::string, std::string>>{
                                {"t", "v " + content}}));
  }
}

// A delimiter is the boundary followed only by "--", or by optional blanks
// and CR LF: a content line that starts with the boundary text is content.
TEST(UploadParts, BoundaryTextWithMoreOnItsLineIsContent) {
  const std::string content = "x\r\n--AaB03xabc\r\n--AaB03x-y\r\n--AaB03x \tz";
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  Page page(dir.Path());
  std::string padded = TextPart("t", "v");
  padded.insert(8, " \t");
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", content) + padded + kClosing), 1);
  EXPECT_EQ(dir.Read("a.txt"), content);
  EXPECT_EQ(page.Items(),
            (std::vector<std::pair<std::string, std::string>>{{"t", "v"}}));
}

// Parameter names are read without regard to case, for the file-part
// counter too.
TEST(UploadParts, UpperCaseFileNameCountsForServerName) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body =
      "--AaB03x\r\nContent-Disposition: form-data; NAME=\"f\"; "
      "FILENAME=\"a.txt\"\r\n\r\nx\r\n" +
      kClosing;
  EXPECT_EQ(page.Run(body, "ServerName1=new.txt"), 1);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"new.txt", "f", 1}}));
}

// The per-file limit refuses like the quota: the earlier file stays and
// later parts are still read.
TEST(UploadParts, FileOverMaxFileBytesIsRefusedWithMinusFour) {
  TestDirectory dir;
  dir.Put("big.txt", "previous");
  Page page(dir.Path());
  page.object->MaxFileBytes(10);
  std::string body = FilePart("f", "big.txt", std::string(11, 'x')) +
                     FilePart("g", "fits.txt", std::string(10, 'y')) +
                     TextPart("t", std::string(100, 'z')) + kClosing;
  EXPECT_EQ(page.Run(body), -4);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"fits.txt", "g", 10}}));
  EXPECT_EQ(page.Items().size(), 1u);
  EXPECT_EQ(dir.Read("big.txt"), "previous");
  EXPECT_EQ(dir.Names(), (Names{"big.txt", "fits.txt"}));
}

TEST(UploadParts, LastRefusalGivesTheCode) {
  TestDirectory dir;
  auto run = [&](const std::string& parts) {
    Page page(dir.Path());
    page.object->UserDiskQuota(10);
    page.object->FileExtensionList({Variant("txt")});
    return page.Run(parts + kClosing);
  };
  std::string big = FilePart("f1", "big.txt", std::string(50, 'b'));
  std::string exe = FilePart("f2", "x.exe", "MZ");
  EXPECT_EQ(run(big + exe), -6);
  EXPECT_EQ(run(exe + big), -4);
  EXPECT_TRUE(dir.Names().empty());
}

TEST(UploadParts, DuplicateTextFieldEndsWith457) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body = TextPart("a", "1") + TextPart("A", "2") +
                     FilePart("f", "late.txt", "x") + kClosing;
  EXPECT_EQ(page.Run(body), -7);
  EXPECT_EQ(page.object->GetLastErrNum(), kDuplicateKey);
  EXPECT_EQ(page.Items().size(), 2u);
  EXPECT_EQ(page.object->Form()->Count(), 1);
  EXPECT_FALSE(dir.Has("late.txt"));
}

TEST(UploadParts, TextValuesKeepTheirBytes) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string value = "line 1\r\nline 2 %41+\xC3\xA9";
  EXPECT_EQ(page.Run(TextPart("note", value) + kClosing), 1);
  EXPECT_EQ(page.object->Form()->Item("note").ToText(), value);
}

TEST(UploadParts, SecondCallAppendsToTheCollections) {
  TestDirectory dir;
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", "1") + kClosing), 1);
  EXPECT_EQ(page.Run(FilePart("f", "b.txt", "2") + kClosing), 1);
  EXPECT_EQ(page.object->NumOfUploadedFiles(), 2);
  EXPECT_EQ(page.Files().size(), 2u);
}

// --- Quota ---------------------------------------------------------------

TEST(UploadQuota, FullDirectoryRefusesBeforeAnyPart) {
  TestDirectory dir;
  dir.Put("held.bin", std::string(1000, 'h'));
  Page page(dir.Path());
  page.object->UserDiskQuota(1000);
  EXPECT_EQ(
      page.Run(TextPart("t", "v") + FilePart("f", "a.txt", "1") + kClosing),
      -4);
  EXPECT_EQ(page.object->FormItems()->Count(), 0);
  EXPECT_EQ(dir.Names(), (Names{"held.bin"}));
}

TEST(UploadQuota, FileOverTheAllowanceIsNotKept) {
  TestDirectory dir;
  dir.Put("held.bin", std::string(600, 'h'));
  dir.Put("a.txt", "previous");
  Page page(dir.Path());
  page.object->UserDiskQuota(1000);
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", std::string(500, 'n')) +
                     FilePart("g", "small.txt", "ok") + kClosing),
            -4);
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"small.txt", "g", 2}}));
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Names(), (Names{"held.bin", "a.txt", "small.txt"}));
}

TEST(UploadQuota, ReplacedFileGivesItsBytesBack) {
  TestDirectory dir;
  dir.Put("a.txt", std::string(800, 'o'));
  Page page(dir.Path());
  page.object->UserDiskQuota(1000);
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", std::string(900, 'n')) +
                     FilePart("g", "b.txt", std::string(100, 'b')) +
                     FilePart("h", "c.txt", "1") + kClosing),
            -4);
  EXPECT_EQ(dir.Read("a.txt"), std::string(900, 'n'));
  EXPECT_EQ(dir.Names(), (Names{"a.txt", "b.txt"}));
}

TEST(UploadQuota, NoQuotaMeansNoAccounting) {
  TestDirectory dir;
  dir.Put("held.bin", std::string(5000, 'h'));
  for (int32_t quota : {0, -1}) {
    Page page(dir.Path());
    page.object->UserDiskQuota(quota);
    EXPECT_EQ(page.Run(FilePart("f", "a.txt", "1") + kClosing), 1);
  }
}

TEST(UploadQuota, DirectoryBeyondTwoGigabytesStillRefuses) {
  TestDirectory dir;
  dir.Put("big.bin", "x");
  HugeFileSystem huge(platform::Files());
  platform::ScopedFileSystem scope(huge);
  Page page(dir.Path());
  page.object->UserDiskQuota(1000);
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", "1") + kClosing), -4);
  EXPECT_FALSE(dir.Has("a.txt"));
}

// --- Broken bodies (failure table) ---------------------------------------

TEST(UploadBroken, MissingLaterDelimiterFailsAndLeavesNoFile) {
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  Page page(dir.Path());
  std::string body = FilePart("f", "b.txt", "done") +
                     "--AaB03x\r\nContent-Disposition: form-data; name=\"f\"; "
                     "filename=\"a.txt\"\r\n\r\ncut off here";
  EXPECT_EQ(page.Run(body), -7);
  EXPECT_EQ(page.object->GetLastErrDescription(), "Seeking bourdary failed.");
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Names(), (Names{"a.txt", "b.txt"}));
}

TEST(UploadBroken, NoDelimiterAtAll) {
  TestDirectory dir;
  Page page(dir.Path());
  EXPECT_EQ(page.Run("plain text, no parts"), -7);
  EXPECT_EQ(page.object->GetLastErrNum(), kSeekingBoundaryFailed);
}

TEST(UploadBroken, BodyEndingRightAfterAHeaderKeepsTheOldFile) {
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  Page page(dir.Path());
  std::string body =
      "--AaB03x\r\nContent-Disposition: form-data; name=\"f\"; "
      "filename=\"a.txt\"\r\n\r\n";
  EXPECT_EQ(page.Run(body), -7);
  EXPECT_EQ(page.object->GetLastErrNum(), 0);
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Names(), (Names{"a.txt"}));
}

TEST(UploadBroken, HeaderWithoutBlankLineEndsWithTheCodeSoFar) {
  TestDirectory dir;
  Page page(dir.Path());
  page.object->FileExtensionList({Variant("gif")});
  std::string body = FilePart("f", "a.exe", "x") +
                     "--AaB03x\r\nContent-Disposition: form-data; name=\"t\"";
  EXPECT_EQ(page.Run(body), -6);
  EXPECT_EQ(page.object->GetLastErrNum(), 0);
  EXPECT_TRUE(dir.Names().empty());
  EXPECT_EQ(Page(dir.Path()).Run(TextPart("t", "v") + "--AaB03x"), -7);
}

TEST(UploadBroken, UnclosedQuoteInAHeader) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body =
      "--AaB03x\r\nContent-Disposition: form-data; name=\"f; "
      "filename=\"a.txt\"\r\n\r\nx\r\n" +
      kClosing;
  // The quote left open after name= is closed by the one of filename=: the
  // part is a text field of that odd name, not a file.
  Page odd(dir.Path());
  EXPECT_EQ(odd.Run(body), 1);
  EXPECT_EQ(odd.Items(), (std::vector<std::pair<std::string, std::string>>{
                             {"f; filename=", "x"}}));
  std::string unclosed =
      "--AaB03x\r\nContent-Disposition: form-data; name=\"f\r\n\r\nx\r\n" +
      kClosing;
  EXPECT_EQ(page.Run(unclosed), -7);
  EXPECT_EQ(page.object->GetLastErrNum(), kInvalidCall);
  EXPECT_TRUE(dir.Names().empty());
}

TEST(UploadBroken, DelimiterInsideTheHeaderBreaksThePartStructure) {
  TestDirectory dir;
  Page page(dir.Path());
  std::string body =
      "--AaB03x\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\n"
      "--AaB03x--";
  EXPECT_EQ(page.Run(body), -7);
  EXPECT_EQ(page.object->GetLastErrNum(), kInvalidCall);
}

// --- Names that would leave the upload directory -------------------------

TEST(UploadNames, UnsafeNamesAreRefusedWithMinusSix) {
  TestDirectory dir;
  std::string inner = dir.Path() + "up/";
  struct Case {
    std::string filename, query;
  } cases[] = {
      {"..", ""},
      {"C:\\tmp\\", ""},
      {std::string("a\x01.txt"), ""},
      {"a.txt", "ServerName1=..%2F..%2Fescape.txt"},  // refused, browser name
      {"a.txt", "ServerName1=%2E%2E"},
      {"a.txt", "ServerName1=a%00.txt"},
      {"a.txt", "ServerName1=a%0A.txt"},
  };
  for (const Case& c : cases) {
    Page page(inner);
    page.object->RejectEmptyExtension(false);
    int16_t code = page.Run(FilePart("f", c.filename, "data") +
                                TextPart("after", "seen") + kClosing,
                            c.query);
    bool fell_back = c.query.find("escape") != std::string::npos;
    EXPECT_EQ(code, fell_back ? 1 : -6) << c.filename << " " << c.query;
    EXPECT_EQ(page.object->FormItems()->Count(), 1) << c.filename;
    EXPECT_EQ(dir.Names(), Names{"up"});
    std::filesystem::remove_all(inner);
  }
}

TEST(UploadNames, TraversalInTheBrowserNameIsCutToItsLastComponent) {
  TestDirectory dir;
  Page page(dir.Path() + "up");
  EXPECT_EQ(page.Run(FilePart("f", "../../escape.txt", "x") +
                     FilePart("g", "..\\..\\win.txt", "y") + kClosing),
            1);
  EXPECT_EQ(dir.Names(), Names{"up"});
  EXPECT_EQ(dir.Read("up/escape.txt"), "x");
  EXPECT_EQ(dir.Read("up/win.txt"), "y");
}

// --- Faults injected through the file system ----------------------------

// A description tells the page which file failed; the hidden temporary
// file is the component's own business.
void ExpectNamesTheStoredFile(const std::string& description,
                              const std::string& stored) {
  EXPECT_NE(description.find(stored), std::string::npos) << description;
  EXPECT_EQ(description.find(".cargane-"), std::string::npos) << description;
}

TEST(UploadFaults, DiskFullDuringAWriteKeepsTheEarlierFile) {
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  FillingDisk disk(platform::Files(), 1000);
  platform::ScopedFileSystem scope(disk);
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "b.txt", std::string(600, 'b')) +
                     FilePart("g", "a.txt", std::string(600, 'a')) + kClosing),
            -7);
  EXPECT_EQ(page.object->GetLastErrNum(), kDiskFull);
  EXPECT_EQ(page.object->GetLastErrSource(), "Cargane");
  EXPECT_EQ(page.Files(), (std::vector<StoredRecord>{{"b.txt", "f", 600}}));
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Names(), (Names{"a.txt", "b.txt"}));
}

TEST(UploadFaults, AccessFailureGivesMinusEightWith75) {
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  RefusingWrites refusing(platform::Files());
  platform::ScopedFileSystem scope(refusing);
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", "new") + kClosing), -8);
  EXPECT_EQ(page.object->GetLastErrNum(), kPathFileAccessError);
  EXPECT_EQ(page.object->GetLastErrSource(), "Cargane");
  ExpectNamesTheStoredFile(page.object->GetLastErrDescription(), dir / "a.txt");
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Names(), (Names{"a.txt"}));
}

TEST(UploadFaults, OldFileThatCannotBeReplacedStaysAndNoTemporaryRemains) {
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  RefusingRename refusing(platform::Files());
  platform::ScopedFileSystem scope(refusing);
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", "new") + kClosing), -8);
  ExpectNamesTheStoredFile(page.object->GetLastErrDescription(), dir / "a.txt");
  EXPECT_EQ(page.object->NumOfUploadedFiles(), 0);
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Names(), (Names{"a.txt"}));
}

TEST(UploadFaults, AReadOnlyOldFileStaysAsVantryLeavesIt) {
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  dir.Put("b.txt", "writable");
  ::chmod((dir / "a.txt").c_str(), 0444);
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "b.txt", "new b") +
                     FilePart("f", "a.txt", "new a") + kClosing),
            -8);
  EXPECT_EQ(page.object->GetLastErrNum(), kPathFileAccessError);
  ExpectNamesTheStoredFile(page.object->GetLastErrDescription(), dir / "a.txt");
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Read("b.txt"), "new b");
  EXPECT_EQ(dir.Names(), (Names{"a.txt", "b.txt"}));
}

TEST(UploadFaults, TakenTemporaryNameIsReplacedByAFreshOne) {
  TestDirectory dir;
  testing::FirstNameTaken taken(platform::Files());
  platform::ScopedFileSystem scope(taken);
  Page page(dir.Path());
  EXPECT_EQ(page.Run(FilePart("f", "a.txt", "new") + kClosing), 1);
  EXPECT_EQ(dir.Read("a.txt"), "new");
  EXPECT_EQ(dir.Names(), (Names{"a.txt"}));
}

// --- Bodies made by independent clients ----------------------------------

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(CARGANE_TEST_DATA) + "/" + name,
                   std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST(UploadClients, CurlFormBody) {
  TestDirectory dir;
  Page page(dir.Path());
  EXPECT_EQ(page.Run(Fixture("curl.body"), {}, Fixture("curl.type")), 1);
  std::string utf8_name = "na\xC3\xAFve r\xC3\xA9sum\xC3\xA9.txt";
  EXPECT_EQ(
      page.Files(),
      (std::vector<StoredRecord>{
          {"a.bin", "upload1", static_cast<int32_t>(Fixture("a.bin").size())},
          {utf8_name, "upload2",
           static_cast<int32_t>(Fixture("b.png").size())}}));
  EXPECT_EQ(dir.Read("a.bin"), Fixture("a.bin"));
  EXPECT_EQ(dir.Read(utf8_name), Fixture("b.png"));
  EXPECT_EQ(page.Items(), (std::vector<std::pair<std::string, std::string>>{
                              {"note", "first line\r\nsecond line\r\n"},
                              {"title", "Holiday"}}));
}

TEST(UploadClients, PythonEmailAndUrllibBody) {
  TestDirectory dir;
  Page page(dir.Path());
  page.object->FileExtensionList({Variant("bin"), Variant("png")});
  EXPECT_EQ(page.Run(Fixture("urllib.body"), {}, Fixture("urllib.type")), 1);
  EXPECT_EQ(page.object->NumOfUploadedFiles(), 2);
  EXPECT_EQ(dir.Read("a.bin"), Fixture("py-a.bin"));
  EXPECT_EQ(dir.Read("b.png"), Fixture("py-b.png"));
  EXPECT_EQ(page.object->Form()->Item("note").ToText(),
            "first line\r\nsecond line\r\n");
}

}  // namespace
}  // namespace corvane::cargane
