// SPDX-License-Identifier: Apache-2.0
#include "mail/clsMail.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>

#include "mail/Tallowin.h"
#include "platform/Clock.h"
#include "platform/tests/Caught.h"

namespace corvane::penrill {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<Collection> ListOf(std::initializer_list<std::string> items) {
  auto list = Collection::New();
  for (const auto& item : items) list->Add(item);
  return list;
}

// The clock of every test stands at this instant, an hour east of UTC.
constexpr int64_t kSundayEvening = 1796580309;  // 2026-12-06 18:05:09Z
constexpr char kDateLine[] = "Date: Sun, 6 Dec 2026 19:05:09 +0100\r\n";

// The message after its Date line, which must be the fixed clock's.
std::string WithoutDate(const std::string& message) {
  EXPECT_EQ(message.rfind(kDateLine, 0), 0u) << message.substr(0, 40);
  return message.substr(message.find("\r\n") + 2);
}

class clsMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("clsmail-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_);
    mail_.MailFrom("Sender <from@example.org>");
    mail_.MailTo(ListOf({"to@example.org"}));
    mail_.MailSubject("Greetings");
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  platform::FixedClock clock_{kSundayEvening, 3600};
  platform::ScopedClock clock_guard_{clock_};
  fs::path folder_;
  clsMail mail_;
};

TEST_F(clsMailTest, PlainMessageWithDefaults) {
  mail_.MailContent("Hello\r\n");
  EXPECT_EQ(WithoutDate(mail_.GetMailBody()),
            "From: Sender <from@example.org>\r\n"
            "Reply-To: Sender <from@example.org>\r\n"
            "X-Mailer: Corvane Penrill Mail Component 1.0\r\n"
            "MIME-Version: 1.0\r\n"
            "To: to@example.org\r\n"
            "Subject: Greetings\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "Hello\r\n\r\n");
}

TEST_F(clsMailTest, DateLineReadsThePlatformClock) {
  EXPECT_EQ(mail_.GetMailBody().rfind(kDateLine, 0), 0u);
  platform::FixedClock west(kSundayEvening, -(3 * 3600 + 1800));
  platform::ScopedClock guard(west);
  EXPECT_EQ(
      mail_.GetMailBody().rfind("Date: Sun, 6 Dec 2026 14:35:09 -0330\r\n", 0),
      0u);
}

TEST_F(clsMailTest, OptionalHeadersAndReplyTo) {
  mail_.MailReplyTo("replies@example.org");
  mail_.MailErrorsTo("bounces@example.org");
  mail_.MailPrecedence("bulk");
  mail_.MailCc(ListOf({"cc1@example.org", "CC Two <cc2@example.org>"}));
  mail_.MailBcc(ListOf({"hidden@example.org"}));
  std::string message = WithoutDate(mail_.GetMailBody());
  EXPECT_EQ(message.substr(0, message.find("Subject:")),
            "From: Sender <from@example.org>\r\n"
            "Reply-To: replies@example.org\r\n"
            "Errors-To: bounces@example.org\r\n"
            "Precedence: bulk\r\n"
            "X-Mailer: Corvane Penrill Mail Component 1.0\r\n"
            "MIME-Version: 1.0\r\n"
            "To: to@example.org\r\n"
            "Cc: cc1@example.org, CC Two <cc2@example.org>\r\n");
  EXPECT_EQ(message.find("hidden"), std::string::npos);
}

TEST_F(clsMailTest, AddressLinesStopPast1024Characters) {
  auto to = Collection::New();
  auto cc = Collection::New();
  for (int i = 0; i < 30; ++i) {
    std::string entry = "recipient" + std::to_string(100 + i) + "@";
    entry += std::string(40 - entry.size() - 4, 'x') + ".org";
    ASSERT_EQ(entry.size(), 40u);
    to->Add(entry);
    cc->Add(entry);
  }
  mail_.MailTo(to);
  mail_.MailCc(cc);
  std::string message = mail_.GetMailBody();
  for (std::string name : {"\r\nTo: ", "\r\nCc: "}) {
    size_t start = message.find(name) + 2;
    std::string line =
        message.substr(start, message.find("\r\nCc: ", start) - start);
    if (name == "\r\nCc: ") line = line.substr(0, line.find("\r\nSubject"));
    // Folded once between two entries, as no line may pass 998.
    size_t fold = line.find(",\r\n ");
    ASSERT_NE(fold, std::string::npos) << name;
    EXPECT_LE(fold + 1, 998u);
    EXPECT_LE(line.size() - fold - 3, 998u);
    line.replace(fold, 4, ", ");
    // "To: " and 25 entries with their separators: 4 + 25 * 40 + 24 * 2.
    EXPECT_EQ(line.size(), 1052u) << name;
    EXPECT_NE(line.find("recipient124@"), std::string::npos);
    EXPECT_EQ(line.find("recipient125@"), std::string::npos);
  }
}

TEST_F(clsMailTest, TheRecipientListsAreSharedNotCopied) {
  auto to = ListOf({"first@example.org"});
  mail_.MailTo(to);
  to->Add("second@example.org");
  EXPECT_NE(
      mail_.GetMailBody().find("To: first@example.org, second@example.org\r\n"),
      std::string::npos);
}

TEST_F(clsMailTest, CurrentRecipentAloneInTheToLine) {
  mail_.MailTo(ListOf({"a@example.org", "B <b@example.org>"}));
  mail_.CurrentRecipent("B <b@example.org>");
  EXPECT_NE(mail_.GetMailBody().find("\r\nTo: B <b@example.org>\r\nSubject"),
            std::string::npos);
}

TEST_F(clsMailTest, NoFirstRecipientIsAFailure) {
  mail_.MailTo(Collection::New());
  auto failure = CaughtFailure([&] { mail_.GetMailBody(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, 9);
  EXPECT_EQ(failure->source, "Penrill");
  mail_.MailTo(nullptr);
  EXPECT_EQ(FailureNumber([&] { mail_.GetMailBody(); }), 9);
  mail_.CurrentRecipent("only@example.org");
  EXPECT_NO_THROW(mail_.GetMailBody());
}

TEST_F(clsMailTest, Base64BodyOnlyForExactlyBase64) {
  mail_.MailContent("Hello, world\r\n");
  mail_.MailContentEncode("base64");
  mail_.MailContenttype("text/html");
  mail_.MailContentcharset("utf-8");
  std::string message = mail_.GetMailBody();
  EXPECT_NE(message.find("Content-Type: text/html; charset=utf-8\r\n"
                         "Content-Transfer-Encoding: base64\r\n\r\n"
                         "SGVsbG8sIHdvcmxkDQo=\r\n"),
            std::string::npos);

  clsMail capitals;
  capitals.MailTo(ListOf({"to@example.org"}));
  capitals.MailContent("Hello\r\n");
  capitals.MailContentEncode("BASE64");
  EXPECT_NE(capitals.GetMailBody().find("BASE64\r\n\r\nHello\r\n\r\n"),
            std::string::npos);
}

TEST_F(clsMailTest, MultipartLayout) {
  mail_.MailContent("Body\r\n");
  mail_.Attach(ListOf({Write("data.bin", "foobar")}));
  mail_.Attach(ListOf({Write("notes.txt", "note\r\n")}));
  std::string message = WithoutDate(mail_.GetMailBody());
  std::string body = message.substr(message.find("Content-Type: multipart"));
  EXPECT_EQ(body,
            "Content-Type: multipart/mixed; "
            "boundary=\"------------862EE14B9F0BCE464FC45E01\"\r\n"
            "\r\n"
            "This is a multi-part message in MIME format.\r\n"
            "--------------862EE14B9F0BCE464FC45E01\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "Body\r\n"
            "\r\n"
            "--------------862EE14B9F0BCE464FC45E01\r\n"
            "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
            "\r\n"
            "Zm9vYmFy\r\n"
            "--------------862EE14B9F0BCE464FC45E01\r\n"
            "Content-Type: text/plain; charset=us-ascii; name=\"notes.txt\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "Content-Disposition: inline; filename=\"notes.txt\"\r\n"
            "\r\n"
            "note\r\n"
            "\r\n"
            "--------------862EE14B9F0BCE464FC45E01--");
}

TEST_F(clsMailTest, TheBodyPartIsBuiltOnceAndReused) {
  std::string path = Write("photo.jpg", std::string(1000, '\x7f'));
  mail_.Attach(ListOf({path}));
  std::string first = WithoutDate(mail_.GetMailBody());
  // The attachment is not read again: a second copy survives its removal.
  fs::remove(path);
  mail_.CurrentRecipent("other@example.org");
  std::string second = WithoutDate(mail_.GetMailBody());
  EXPECT_EQ(first.substr(first.find("Subject:")),
            second.substr(second.find("Subject:")));
  EXPECT_NE(second.find("To: other@example.org\r\n"), std::string::npos);
}

// Written piece by piece (attachments read and encoded a piece at a time,
// one over several pieces and with a part of a piece at its end), the
// message is GetMailBody's byte for byte, before GetMailBody and after it;
// rich messages keep one boundary for every copy.
TEST_F(clsMailTest, AWrittenMessageIsTheBuiltOne) {
  std::string large(Base64Writer::kPieceSize * 2 + 100, '\0');
  std::mt19937 random(5);
  for (char& c : large) c = static_cast<char>(random());
  const std::vector<std::string> files = {
      Write("large.bin", large), Write("notes.txt", "note\r\n.dot\r\n"),
      Write("umlaut.txt",
            "Gr\xC3\xBC\xC3\x9F"
            "e"),
      Write("empty.zip", "")};
  for (bool rich : {false, true}) {
    clsMail mail;
    mail.MailFrom("from@example.org");
    mail.MailTo(ListOf({"to@example.org"}));
    mail.MailContent("Hello\r\n");
    for (const auto& file : files) mail.Attach(ListOf({file}));
    if (rich) {
      mail.HtmlContent("<p>Hello</p>\r\n");
      mail.AddInlineImage(files[0], "photo");
    }
    std::string written;
    StringSink sink(written);
    mail.WriteMailBody(sink);
    std::string built = mail.GetMailBody();
    EXPECT_EQ(written, built) << "rich " << rich;
    std::string again;
    StringSink again_sink(again);
    mail.WriteMailBody(again_sink);
    EXPECT_EQ(again, built) << "rich " << rich;
    EXPECT_NE(built.find("\"notes.txt\"\r\n\r\nnote\r\n.dot\r\n"),
              std::string::npos);
  }
}

TEST_F(clsMailTest, AnAttachmentThatVanishedFailsTheMessage) {
  std::string path = Write("report.pdf", "x");
  mail_.Attach(ListOf({path}));
  fs::remove(path);
  EXPECT_EQ(FailureNumber([&] { mail_.GetMailBody(); }), 53);
}

TEST_F(clsMailTest, EightBitHeaderTextIsEncoded) {
  mail_.MailFrom("J\xC3\xB6rg <from@example.org>");
  mail_.MailTo(
      ListOf({"Ren\xC3\xA9"
              "e <to@example.org>",
              "to2@example.org"}));
  mail_.MailCc(ListOf({"\"Z\xC3\xBCrich, Team\" <cc@example.org>"}));
  mail_.MailSubject(
      "Gr\xC3\xBC\xC3\x9F"
      "e");
  std::string message = WithoutDate(mail_.GetMailBody());
  std::string header = message.substr(0, message.find("Content-Type:"));
  EXPECT_EQ(header,
            "From: =?UTF-8?B?SsO2cmc=?= <from@example.org>\r\n"
            "Reply-To: =?UTF-8?B?SsO2cmc=?= <from@example.org>\r\n"
            "X-Mailer: Corvane Penrill Mail Component 1.0\r\n"
            "MIME-Version: 1.0\r\n"
            "To: =?UTF-8?B?UmVuw6ll?= <to@example.org>, to2@example.org\r\n"
            "Cc: =?UTF-8?B?WsO8cmljaCwgVGVhbQ==?= <cc@example.org>\r\n"
            "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n");

  clsMail latin;
  latin.MailTo(ListOf({"to@example.org"}));
  latin.MailContentcharset("iso-8859-1");
  latin.MailSubject("Caf\xE9");
  EXPECT_NE(latin.GetMailBody().find("Subject: =?iso-8859-1?B?Q2Fm6Q==?="),
            std::string::npos);
}

struct BodyCase {
  const char* what;
  std::string content;
  const char* charset;  // nullptr: the default
  bool eight_bit_allowed;
  bool with_attachment;
  std::string expected_headers;
  bool eight_bit_mime;
};

TEST_F(clsMailTest, BodyEncodingFitsTheContent) {
  const std::string boundary_line =
      "--------------862EE14B9F0BCE464FC45E01\r\n";
  const BodyCase cases[] = {
      {"ASCII as ever", "plain\r\n", nullptr, true, false,
       "charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n", false},
      {"8-bit, no 8BITMIME",
       "Gr\xC3\xBC\xC3\x9F"
       "e\r\n",
       nullptr, false, false,
       "charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n", false},
      {"8-bit with 8BITMIME",
       "Gr\xC3\xBC\xC3\x9F"
       "e\r\n",
       nullptr, true, false,
       "charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n", true},
      {"8-bit in a set charset", "caf\xE9\r\n", "iso-8859-1", false, false,
       "charset=iso-8859-1\r\nContent-Transfer-Encoding: base64\r\n", false},
      {"the boundary in the body", "x\r\n" + boundary_line, nullptr, true, true,
       "charset=us-ascii\r\nContent-Transfer-Encoding: base64\r\n", false},
      {"the boundary without attachments", "x\r\n" + boundary_line, nullptr,
       true, false, "charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n",
       false},
  };
  for (const auto& c : cases) {
    clsMail mail;
    mail.MailTo(ListOf({"to@example.org"}));
    mail.MailContent(c.content);
    if (c.charset) mail.MailContentcharset(c.charset);
    mail.EightBitAllowed(c.eight_bit_allowed);
    if (c.with_attachment) mail.Attach(ListOf({Write("a.bin", "bytes")}));
    std::string message = mail.GetMailBody();
    EXPECT_NE(message.find("Content-Type: text/plain; " + c.expected_headers),
              std::string::npos)
        << c.what << "\n"
        << message;
    EXPECT_EQ(mail.NeedsEightBitMime(), c.eight_bit_mime) << c.what;
    // The boundary lines are the builder's own: one before the body, one
    // before the attachment.
    if (c.with_attachment) {
      size_t lines = 0;
      for (size_t at = message.find("\r\n" + boundary_line);
           at != std::string::npos;
           at = message.find("\r\n" + boundary_line, at + 1)) {
        ++lines;
      }
      EXPECT_EQ(lines, 2u) << c.what;
    }
  }
}

TEST_F(clsMailTest, TextAttachmentsThatAreNot7BitGoInBase64) {
  mail_.MailContent("Body\r\n");
  mail_.Attach(ListOf({Write("K\xC3\xB6ln.txt",
                             "Gr\xC3\xBC\xC3\x9F"
                             "e\r\n")}));
  mail_.Attach(
      ListOf({Write("forged.html",
                    "a\r\n--------------862EE14B9F0BCE464FC45E01\r\n"
                    "Content-Type: text/html\r\n\r\n<a href=x>pay</a>\r\n")}));
  mail_.Attach(ListOf({Write("plain.txt", "ascii\r\n")}));
  std::string message = WithoutDate(mail_.GetMailBody());
  EXPECT_NE(
      message.find(
          "Content-Type: text/plain; charset=utf-8; name=\"K__ln.txt\"\r\n"
          "Content-Transfer-Encoding: base64\r\n"
          "Content-Disposition: inline;\r\n"
          " filename*=utf-8''K%C3%B6ln.txt\r\n\r\n"
          "R3LDvMOfZQ0K\r\n"),
      std::string::npos)
      << message;
  EXPECT_NE(message.find("name=\"forged.html\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n"),
            std::string::npos);
  EXPECT_EQ(message.find("<a href"), std::string::npos);
  EXPECT_NE(message.find("Content-Type: text/plain; charset=us-ascii; "
                         "name=\"plain.txt\"\r\n"
                         "Content-Transfer-Encoding: 7bit\r\n"
                         "Content-Disposition: inline; "
                         "filename=\"plain.txt\"\r\n\r\nascii\r\n"),
            std::string::npos);
}

TEST_F(clsMailTest, MessageIdOnlyWhenAskedAndNewPerCopy) {
  EXPECT_EQ(mail_.GetMailBody().find("Message-ID:"), std::string::npos);
  mail_.AddMessageID(true);
  std::regex shape(
      "^Date: [^\r]*\r\nMessage-ID: <[0-9a-f.]+@[^<>@ ]+>\r\n"
      "From: ");
  std::string first = mail_.GetMailBody();
  std::string second = mail_.GetMailBody();
  EXPECT_TRUE(std::regex_search(first, shape)) << first;
  EXPECT_NE(first.substr(0, first.find("From:")),
            second.substr(0, second.find("From:")));
}

TEST(clsMailParse, ParseEmailAddress) {
  clsMail mail;
  EXPECT_EQ(mail.ParseEmailAddress("John Smith <john@example.org>"),
            "john@example.org");
  EXPECT_EQ(mail.ParseEmailAddress("<  spaced@example.org >"),
            "spaced@example.org");
  EXPECT_EQ(mail.ParseEmailAddress("  bare@example.org "),
            "  bare@example.org ");
  EXPECT_EQ(mail.ParseEmailAddress("<>"), "");
  EXPECT_EQ(mail.ParseEmailAddress("odd> order <x@example.org"),
            "odd> order <x@example.org");
  EXPECT_EQ(mail.ParseEmailAddress("only <open"), "only <open");
  EXPECT_EQ(mail.ParseEmailAddress(""), "");
}

TEST(clsMailDispatch, MembersInInterfaceOrderAndCallable) {
  std::shared_ptr<Dispatch> mail = std::make_shared<clsMail>();
  std::vector<std::string> names;
  for (const auto& member : mail->Class().members()) {
    names.push_back(member.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "MailErrorsTo", "MailPrecedence", "MailContent",
                       "MailContenttype", "MailContentcharset",
                       "MailContentEncode", "Attach", "MailFrom", "MailTo",
                       "MailSubject", "MailReplyTo", "MailCc", "MailBcc",
                       "CurrentRecipent", "GetMailBody", "ParseEmailAddress"}));
  mail->Put("mailto", Variant(ListOf({"x@example.org"})));
  mail->Put("MailContent", "Line\r\n");
  EXPECT_NE(mail->Call("GetMailBody").ToText().find("To: x@example.org\r\n"),
            std::string::npos);
  EXPECT_EQ(mail->Call("ParseEmailAddress", {"A <a@b.c>"}).ToText(), "a@b.c");
}

}  // namespace
}  // namespace corvane::penrill
