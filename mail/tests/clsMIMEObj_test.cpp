// SPDX-License-Identifier: Apache-2.0
#include "mail/clsMIMEObj.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/FileSystem.h"
#include "platform/tests/Caught.h"

namespace corvane::penrill {
namespace {

namespace fs = std::filesystem;

class clsMIMEObjTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("mimeobj-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path folder_;
};

struct Row {
  const char* extensions;
  const char* content_type;
  const char* encoding;
  const char* disposition;
};

TEST(clsMIMEObjTypes, EveryExtensionOfTheTable) {
  const Row rows[] = {
      {"zip", "application/x-zip-compressed", "base64", "attachment"},
      {"gif", "image/gif", "base64", "attachment"},
      {"jpeg jpg jpe jfif pjpeg pjp", "image/jpeg", "base64", "attachment"},
      {"png", "image/x-png", "base64", "attachment"},
      {"tiff tif", "image/tiff", "base64", "attachment"},
      {"doc", "application/msword", "base64", "attachment"},
      {"exe bin dll com", "application/octet-stream", "base64", "attachment"},
      {"txt text", "text/plain", "7bit", "inline"},
      {"html htm", "text/html", "7bit", "inline"},
      {"xml", "text/xml", "7bit", "inline"},
      {"rtf", "application/rtf", "base64", "attachment"},
      {"pdf", "application/pdf", "base64", "attachment"},
      {"au snd", "audio/basic", "base64", "attachment"},
      {"wav", "audio/x-wav", "base64", "attachment"},
      {"mp2 mpa abs mpega", "audio/x-mpeg", "base64", "attachment"},
      {"aif aiff aifc", "audio/x-aiff", "base64", "attachment"},
      {"ra ram", "audio/x-pn-realaudio", "base64", "attachment"},
      {"avi", "video/x-msvideo", "base64", "attachment"},
      {"mpeg mpg mpe mpv vbs mpegv", "video/mpeg", "base64", "attachment"},
      {"pl", "application/x-perl", "7bit", "attachment"},
      {"uu uue", "application/x-uuencode", "7bit", "attachment"},
      {"js mocha", "application/x-javascript", "7bit", "inline"},
      {"docx jp tx 7z", "application/octet-stream", "base64", "attachment"},
  };
  for (const Row& row : rows) {
    std::istringstream extensions(row.extensions);
    for (std::string extension; extensions >> extension;) {
      clsMIMEObj part;
      part.ContentPath("/srv/files/a." + extension);
      EXPECT_EQ(part.ContentType(), row.content_type) << extension;
      EXPECT_EQ(part.TransferEncoding(), row.encoding) << extension;
      EXPECT_EQ(part.Disposition(), row.disposition) << extension;
    }
  }
}

TEST(clsMIMEObjTypes, ExtensionsCompareWithoutCase) {
  clsMIMEObj part;
  part.ContentPath("/srv/PHOTO.JPG");
  EXPECT_EQ(part.MIMEObjHeader(),
            "Content-Type: image/jpeg; name=\"PHOTO.JPG\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"PHOTO.JPG\"");
}

TEST(clsMIMEObjTypes, PathsWithoutAFileExtension) {
  clsMIMEObj bare;
  bare.ContentPath("/srv/readme");
  EXPECT_EQ(bare.ContentType(), "application/octet-stream");
  EXPECT_EQ(bare.TransferEncoding(), "base64");
  clsMIMEObj dotted_folder;
  dotted_folder.ContentPath("/srv/my.dir/notes");
  EXPECT_EQ(dotted_folder.ContentType(), "application/octet-stream");
}

TEST(clsMIMEObjTypes, TheFirstDispositionStays) {
  clsMIMEObj part;
  part.ContentPath("/srv/a.txt");
  part.ContentPath("/srv/b.pdf");
  EXPECT_EQ(part.ContentType(), "application/pdf");
  EXPECT_EQ(part.Disposition(), "inline");
}

TEST(clsMIMEObjHeaders, TextPartsNameTheirCharset) {
  clsMIMEObj part;
  part.ContentPath("/srv/files/Report.pdf");
  EXPECT_EQ(part.MIMEObjHeader(),
            "Content-Type: application/pdf; name=\"Report.pdf\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"Report.pdf\"");
  clsMIMEObj text;
  text.ContentPath("/srv/files/notes.txt");
  EXPECT_EQ(text.MIMEObjHeader(),
            "Content-Type: text/plain; charset=us-ascii; name=\"notes.txt\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "Content-Disposition: inline; filename=\"notes.txt\"");
}

// A quote in a name must not end the quoted string: the rest of the name
// would otherwise be read as parameters of the header's own.
TEST(clsMIMEObjHeaders, NamesThatCannotBeQuotedAreEncoded) {
  clsMIMEObj part;
  part.ContentPath("/srv/invoice.txt\"; filename=\"evil.exe");
  EXPECT_EQ(part.MIMEObjHeader(),
            "Content-Type: application/octet-stream; "
            "name=\"invoice.txt_; filename=_evil.exe\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment;\r\n "
            "filename*=utf-8''invoice.txt%22%3B%20filename%3D%22evil.exe");
  clsMIMEObj slash;
  slash.ContentPath("/srv/a\\b\tc.pdf");
  EXPECT_TRUE(slash.MIMEObjHeader().ends_with(
      "attachment;\r\n filename*=utf-8''a%5Cb%09c.pdf"));
}

TEST(clsMIMEObjHeaders, APathEndingInASlashHasNoNames) {
  clsMIMEObj part;
  part.ContentPath("/srv/files/");
  EXPECT_EQ(part.MIMEObjHeader(),
            "Content-Type: application/octet-stream\r\n"
            "Content-Transfer-Encoding: base64");
  clsMIMEObj fresh;
  EXPECT_EQ(fresh.MIMEObjHeader(),
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "Content-Transfer-Encoding: 7bit");
}

TEST_F(clsMIMEObjTest, TextContentIsTheFileUnchanged) {
  std::string bytes("line one\r\ntwo\0end", 16);
  clsMIMEObj part;
  part.ContentPath(Write("notes.txt", bytes));
  EXPECT_EQ(part.MimeContent(), bytes);
  EXPECT_EQ(part.ExpectedContentLength(), bytes.size());
  EXPECT_EQ(part.TransferEncoding(), "7bit");
}

TEST_F(clsMIMEObjTest, TextThatIsNot7BitGoesInBase64) {
  struct Case {
    std::string bytes;
    const char* charset;
  };
  const Case cases[] = {
      {"line one\r\n\xe9t\xe9\r\n", "us-ascii"},  // not UTF-8: kept
      {"Gr\xC3\xBC\xC3\x9F"
       "e\r\n",
       "utf-8"},
      {"x\r\n--------------862EE14B9F0BCE464FC45E01--\r\n", "us-ascii"},
  };
  for (const auto& c : cases) {
    clsMIMEObj part;
    part.ContentPath(Write("notes.txt", c.bytes));
    std::string content = part.MimeContent();
    EXPECT_EQ(part.TransferEncoding(), "base64");
    EXPECT_EQ(part.ContentType(), "text/plain");
    EXPECT_EQ(part.MIMEObjHeader(),
              "Content-Type: text/plain; charset=" + std::string(c.charset) +
                  "; name=\"notes.txt\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: inline; filename=\"notes.txt\"");
    EXPECT_EQ(content.find("862EE"), std::string::npos);
  }
}

TEST_F(clsMIMEObjTest, Base64ContentLengths) {
  const std::pair<size_t, std::string> cases[] = {
      {0, ""},
      {1, "AA=="},
      {54, std::string(72, 'A')},
      {55, std::string(72, 'A') + "\r\nAA=="}};
  for (const auto& [size, expected] : cases) {
    clsMIMEObj part;
    part.ContentPath(Write("zeros.bin", std::string(size, '\0')));
    EXPECT_EQ(part.MimeContent(), expected) << size;
    EXPECT_EQ(part.ExpectedContentLength(), expected.size()) << size;
  }
}

TEST_F(clsMIMEObjTest, ContentIsReadAgainOnEveryCall) {
  std::string path = Write("a.txt", "first");
  clsMIMEObj part;
  part.ContentPath(path);
  EXPECT_EQ(part.MimeContent(), "first");
  Write("a.txt", "second");
  EXPECT_EQ(part.MimeContent(), "second");
}

TEST_F(clsMIMEObjTest, AFileThatVanishedIsFileNotFound) {
  std::string path = Write("gone.pdf", "x");
  clsMIMEObj part;
  part.ContentPath(path);
  fs::remove(path);
  EXPECT_EQ(part.ExpectedContentLength(), 0u);
  auto failure = CaughtFailure([&] { part.MimeContent(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, 53);
  EXPECT_EQ(failure->source, "Penrill");
}

// A file system whose files cannot be opened, or fail halfway through.
class BrokenFiles : public platform::ForwardingFileSystem {
 public:
  explicit BrokenFiles(bool fail_open)
      : ForwardingFileSystem(platform::Files()), fail_open_(fail_open) {}
  std::unique_ptr<platform::FileReader> OpenReader(
      std::string_view path) override {
    if (fail_open_) throw FailureFromErrno(EACCES, std::string(path));
    struct FailingReader : platform::FileReader {
      size_t Read(char*, size_t) override { throw FailureFromErrno(EIO); }
      void Seek(uint64_t) override { throw FailureFromErrno(EIO); }
    };
    return std::make_unique<FailingReader>();
  }

 private:
  bool fail_open_;
};

TEST_F(clsMIMEObjTest, FilesThatCannotBeReadPassTheirError) {
  clsMIMEObj part;
  part.ContentPath(Write("locked.zip", "data"));
  for (auto [fail_open, number] : {std::pair{true, 75}, std::pair{false, 57}}) {
    BrokenFiles broken(fail_open);
    platform::ScopedFileSystem use(broken);
    auto failure = CaughtFailure([&] { part.MimeContent(); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, number);
    EXPECT_EQ(failure->source, "Penrill");
  }
}

TEST(clsMIMEObjDispatch, MembersInInterfaceOrder) {
  std::shared_ptr<Dispatch> part = std::make_shared<clsMIMEObj>();
  const auto& members = part->Class().members();
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].name, "ContentPath");
  EXPECT_EQ(members[1].name, "MIMEObjHeader");
  EXPECT_EQ(members[2].name, "MimeContent");
  part->Put("contentpath", "/srv/");
  EXPECT_EQ(part->Get("MIMEOBJHEADER").ToText(),
            "Content-Type: application/octet-stream\r\n"
            "Content-Transfer-Encoding: base64");
  EXPECT_THROW(part->Get("ContentPath"), Failure);
}

}  // namespace
}  // namespace corvane::penrill
