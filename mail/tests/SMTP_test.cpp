// SPDX-License-Identifier: Apache-2.0
#include "mail/SMTP.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "frame/MemoryHost.h"
#include "net/WSKSOCK.h"
#include "net/tests/FakeSockets.h"

namespace corvane::penrill {
namespace {

using net::testing::FakeSockets;
namespace fs = std::filesystem;

constexpr int32_t kSettingsError = -2147221503;
constexpr int32_t kReplyError = -2147221499;
constexpr int32_t kShortSendError = -2147221498;

// A folder of its own for each test, removed afterwards; the send log goes
// there too.
class SmtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("penrill_" + std::to_string(std::random_device{}()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
    ::setenv("CORVANE_LOG_DIR", folder_.c_str(), 1);
    smtp_.OnStartPage(Variant(page_));
  }
  void TearDown() override {
    ::unsetenv("CORVANE_LOG_DIR");
    fs::remove_all(folder_);
  }

  std::string Write(const std::string& name, const std::string& content) {
    std::ofstream(folder_ / name, std::ios::binary) << content;
    return (folder_ / name).string();
  }

  void Settle() {
    smtp_.SMTPServer("127.0.0.1");
    smtp_.MailFrom("Sender <from@example.org>");
    smtp_.MailTo("Reader <to@example.org>");
    smtp_.MailSubject("Hello");
    smtp_.MailContent("First line");
  }

  // The replies of a healthy server for one transaction and QUIT.
  static std::deque<std::string> HealthyReplies(int recipients) {
    std::deque<std::string> replies = {"220 ready\r\n", "250 hello\r\n",
                                       "250 sender ok\r\n"};
    for (int i = 0; i < recipients; ++i) replies.push_back("250 rcpt ok\r\n");
    for (const char* r :
         {"354 go\r\n", "250 queued\r\n", "250 sender ok\r\n", "221 bye\r\n"}) {
      replies.push_back(r);
    }
    return replies;
  }

  // Appends the replies of a healthy server from MAIL FROM on.
  static void AfterGreeting(std::deque<std::string>& replies) {
    auto healthy = HealthyReplies(1);
    replies.insert(replies.end(), healthy.begin() + 2, healthy.end());
  }

  void ExpectFailure(int32_t number, const std::string& description) {
    EXPECT_EQ(smtp_.GetLastErrNum(), number);
    EXPECT_EQ(smtp_.GetLastErrSource(), "Penrill.SMTP");
    EXPECT_EQ(smtp_.GetLastErrDescription(), description);
    EXPECT_EQ(page_->Output(), description + "<br>");
    EXPECT_FALSE(net::WinsockStarted());
  }

  fs::path folder_;
  std::shared_ptr<MemoryContext> page_ = MemoryContext::New();
  SMTP smtp_;
};

TEST_F(SmtpTest, NewObjectHasNoLastError) {
  EXPECT_EQ(smtp_.GetLastErrNum(), 0);
  EXPECT_EQ(smtp_.GetLastErrSource(), "");
  EXPECT_EQ(smtp_.GetLastErrDescription(), "");
  EXPECT_EQ(smtp_.Timeout(), 60);
}

struct Check {
  const char* what;
  std::function<void(SMTP&, const std::string& folder)> settle;
  std::string message;  // "{folder}" stands for the test's folder
};

TEST_F(SmtpTest, ValidateSendOrderAndMessages) {
  auto base = [](SMTP& s) {
    s.SMTPServer("127.0.0.1");
    s.MailFrom("from@example.org");
    s.MailTo("to@example.org");
  };
  const std::vector<Check> checks = {
      {"nothing set", [](SMTP&, auto&) {},
       "SMTP Error: Please specify SMTP's IP address."},
      {"server missing though all else is wrong",
       [](SMTP& s, auto&) {
         s.MailFrom("  ");
         s.MailSubject("a\r\nBcc: x");
         s.Attach("/no/such/file");
       },
       "SMTP Error: Please specify SMTP's IP address."},
      {"sender of spaces",
       [](SMTP& s, auto&) {
         s.SMTPServer("127.0.0.1");
         s.MailFrom("   ");
         s.MailTo("to@example.org");
       },
       "SMTP Error: Please specify sender."},
      {"Cc and Bcc do not count as recipients",
       [](SMTP& s, auto&) {
         s.SMTPServer("127.0.0.1");
         s.MailFrom("from@example.org");
         s.MailCc("cc@example.org");
         s.MailBcc("bcc@example.org");
       },
       "SMTP Error: Please specify recipent."},
      {"first missing attachment is named",
       [&](SMTP& s, const std::string& folder) {
         base(s);
         s.Attach(folder + "/present.txt");
         s.Attach(folder + "/gone.txt");
         s.Attach(folder + "/gone-too.txt");
       },
       "Attachment-{folder}/gone.txt not found."},
      {"a directory is no attachment",
       [&](SMTP& s, const std::string& folder) {
         base(s);
         s.Attach(folder);
       },
       "Attachment-{folder} not found."},
      {"a hidden file is not found",
       [&](SMTP& s, const std::string& folder) {
         base(s);
         s.Attach(folder + "/.hidden");
       },
       "Attachment-{folder}/.hidden not found."},
      {"attachments before header values",
       [&](SMTP& s, const std::string& folder) {
         base(s);
         s.MailSubject("x\r\nBcc: y");
         s.Attach(folder + "/gone.txt");
       },
       "Attachment-{folder}/gone.txt not found."},
  };
  Write("present.txt", "here");
  Write(".hidden", "hidden");
  for (const auto& check : checks) {
    FakeSockets peer;
    SMTP smtp;
    check.settle(smtp, folder_.string());
    EXPECT_FALSE(smtp.SendMail()) << check.what;
    std::string expected = check.message;
    if (auto at = expected.find("{folder}"); at != std::string::npos) {
      expected.replace(at, 8, folder_.string());
    }
    EXPECT_EQ(smtp.GetLastErrNum(), kSettingsError) << check.what;
    EXPECT_EQ(smtp.GetLastErrSource(), "Penrill.SMTP") << check.what;
    EXPECT_EQ(smtp.GetLastErrDescription(), expected) << check.what;
    EXPECT_EQ(peer.connects, 0) << check.what;
  }
}

TEST_F(SmtpTest, LineBreaksAndNulAreRefusedInEveryValue) {
  using Setter = void (SMTP::*)(std::string_view);
  const std::pair<const char*, Setter> setters[] = {
      {"MailFrom", &SMTP::MailFrom},
      {"MailTo", &SMTP::MailTo},
      {"MailReplyTo", &SMTP::MailReplyTo},
      {"MailErrorsTo", &SMTP::MailErrorsTo},
      {"MailPrecedence", &SMTP::MailPrecedence},
      {"MailSubject", &SMTP::MailSubject},
      {"MailCc", &SMTP::MailCc},
      {"MailBcc", &SMTP::MailBcc},
      {"MailContenttype", &SMTP::MailContenttype},
      {"MailContentcharset", &SMTP::MailContentcharset},
      {"MailContentEncode", &SMTP::MailContentEncode},
  };
  const std::string bad[] = {"x@example.org\r\nRCPT TO: evil@example.org",
                             "x@example.org\nBcc: evil@example.org",
                             "x@example.org\revil",
                             std::string("x@example.org\0evil", 18)};
  for (const auto& [name, setter] : setters) {
    for (const auto& value : bad) {
      FakeSockets peer;
      auto page = MemoryContext::New();
      SMTP smtp;
      smtp.OnStartPage(Variant(page));
      smtp.SMTPServer("127.0.0.1");
      smtp.MailFrom("from@example.org");
      smtp.MailTo("to@example.org");
      (smtp.*setter)(value);
      EXPECT_FALSE(smtp.SendMail()) << name;
      std::string expected = std::string("SMTP Error: ") + name +
                             " must not contain line breaks or NUL characters.";
      EXPECT_EQ(smtp.GetLastErrNum(), kSettingsError) << name;
      EXPECT_EQ(smtp.GetLastErrDescription(), expected) << name;
      EXPECT_EQ(page->Output(), expected + "<br>");
      EXPECT_EQ(peer.connects, 0) << name;
      EXPECT_TRUE(peer.sends.empty()) << name;
    }
  }
  // Body lines may hold line breaks: they are text, dot-stuffed on the wire.
  FakeSockets peer;
  peer.chunks = HealthyReplies(1);
  Settle();
  smtp_.MailContent("two\r\nlines");
  EXPECT_TRUE(smtp_.SendMail());
}

// Accepts every send but the first one whose bytes begin with `prefix`, of
// which it takes only half.
class ShortSending : public FakeSockets {
 public:
  explicit ShortSending(std::string prefix) : prefix_(std::move(prefix)) {}
  int32_t Send(int32_t socket, const char* data, int32_t count,
               int timeout_ms) override {
    if (std::string_view(data, count).starts_with(prefix_)) {
      send_limit = count / 2;
    }
    int32_t sent = FakeSockets::Send(socket, data, count, timeout_ms);
    send_limit = -1;
    return sent;
  }

 private:
  std::string prefix_;
};

TEST_F(SmtpTest, ShortSendStopsTheDialogue) {
  ShortSending peer("RCPT TO");
  peer.chunks = HealthyReplies(1);
  Settle();
  EXPECT_FALSE(smtp_.SendMail());
  EXPECT_EQ(smtp_.GetLastErrNum(), kShortSendError);
  EXPECT_EQ(smtp_.GetLastErrDescription(),
            "Network Error: RCPT TO:<to@example.org>\r\n");
  EXPECT_EQ(page_->Output(),
            "Network Error: RCPT TO:&lt;to@example.org&gt;\r\n<br>");
  EXPECT_TRUE(peer.sends.back().starts_with("RCPT TO")) << "nothing after it";
  EXPECT_EQ(peer.closed, std::vector<int32_t>{7});
}

TEST_F(SmtpTest, ShortMessageTextFailsBeforeTheEndOfData) {
  ShortSending peer("Date: ");
  peer.chunks = HealthyReplies(1);
  Settle();
  EXPECT_FALSE(smtp_.SendMail());
  EXPECT_EQ(smtp_.GetLastErrNum(), kShortSendError);
  EXPECT_TRUE(smtp_.GetLastErrDescription().starts_with(
      "Network Error: Unable to send the message text."));
  EXPECT_EQ(peer.Sent().find("\r\n.\r\n"), std::string::npos)
      << "a cut message is never ended as complete";
}

TEST_F(SmtpTest, RepeatedFullStorageWithNothingAcceptedFails) {
  FakeSockets peer;
  peer.chunks = {"220 ready\r\n", "250 hello\r\n", "250 ok\r\n",
                 "552 too much mail data\r\n", "354 go\r\n"};
  Settle();
  EXPECT_FALSE(smtp_.SendMail());
  ExpectFailure(kReplyError, "Unexpected response: 552 too much mail data\r\n");
  EXPECT_EQ(peer.Sent().find("DATA"), std::string::npos);
}

TEST_F(SmtpTest, SilentServerTimesOut) {
  FakeSockets peer;
  peer.final_error = 10060;
  Settle();
  smtp_.Timeout(2);
  EXPECT_FALSE(smtp_.SendMail());
  ExpectFailure(kReplyError, "Unexpected response: Connection timed out.");
  EXPECT_EQ(peer.connect_timeout, 2000);
  ASSERT_FALSE(peer.receive_timeouts.empty());
  EXPECT_GT(peer.receive_timeouts.front(), 0);
  EXPECT_LE(peer.receive_timeouts.front(), 2000);
  smtp_.Timeout(0);
  EXPECT_EQ(smtp_.Timeout(), 60);
}

TEST_F(SmtpTest, ConnectionFailuresNameTheSocketError) {
  {
    FakeSockets peer;
    peer.refuse_connect = true;
    Settle();
    EXPECT_FALSE(smtp_.SendMail());
    ExpectFailure(-2147221500,
                  "Unable to establish connection with SMTP Server. "
                  "Connection refused.");
    EXPECT_EQ(peer.connect_timeout, 30000);
  }
  {
    FakeSockets peer;
    page_ = MemoryContext::New();
    smtp_.OnStartPage(Variant(page_));
    smtp_.SMTPServer("nowhere.invalid:2525");
    EXPECT_FALSE(smtp_.SendMail());
    ExpectFailure(-2147221500,
                  "Unable to establish connection with SMTP Server. "
                  "Host not found.");
    EXPECT_EQ(peer.connects, 0);
  }
}

TEST_F(SmtpTest, ListsAfterSuccessFailureAndEndOfPage) {
  {
    FakeSockets peer;
    peer.chunks = HealthyReplies(1);
    Settle();
    ASSERT_TRUE(smtp_.SendMail());
  }
  {
    FakeSockets peer;
    EXPECT_FALSE(smtp_.SendMail()) << "a success empties the lists";
    EXPECT_EQ(smtp_.GetLastErrDescription(),
              "SMTP Error: Please specify recipent.");
  }
  {
    FakeSockets peer;
    peer.refuse_connect = true;
    smtp_.MailTo("to@example.org");
    EXPECT_FALSE(smtp_.SendMail());
  }
  {
    FakeSockets peer;
    peer.chunks = HealthyReplies(1);
    EXPECT_TRUE(smtp_.SendMail()) << "a failure keeps the lists";
    EXPECT_EQ(smtp_.GetLastErrNum(), -2147221500) << "a success keeps it";
  }
  smtp_.MailTo("to@example.org");
  smtp_.OnEndPage();
  smtp_.OnStartPage(Variant(page_));
  FakeSockets peer;
  EXPECT_FALSE(smtp_.SendMail());
  EXPECT_EQ(smtp_.GetLastErrDescription(),
            "SMTP Error: Please specify recipent.");
}

TEST_F(SmtpTest, ReadFileReturnsBytesOrRecordsTheFailure) {
  std::string bytes("a\0b\xff\r\nc", 7);
  EXPECT_EQ(smtp_.ReadFile(Write("data.bin", bytes)), bytes);
  EXPECT_EQ(smtp_.ReadFile((folder_ / "missing.txt").string()), "");
  EXPECT_EQ(smtp_.GetLastErrNum(), 53);
  EXPECT_EQ(smtp_.GetLastErrSource(), "Penrill");
  EXPECT_EQ(page_->Output(), "") << "nothing is written to the page";
}

TEST_F(SmtpTest, LogEventAppendsSixLinesPerSend) {
  smtp_.LogEvent(true);
  {
    FakeSockets peer;
    peer.chunks = HealthyReplies(1);
    Settle();
    ASSERT_TRUE(smtp_.SendMail());
  }
  {
    FakeSockets peer;
    peer.refuse_connect = true;
    smtp_.MailTo("second@example.org");
    EXPECT_FALSE(smtp_.SendMail());
  }
  std::ifstream log(folder_ / "SendMail.log", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(log)), {});
  std::vector<std::string> lines;
  for (size_t start = 0, end;
       (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 12u) << text;
  EXPECT_EQ(lines[1], "To: Reader <to@example.org>");
  EXPECT_EQ(lines[2], "From: Sender <from@example.org>");
  EXPECT_EQ(lines[3], "Subject: Hello");
  EXPECT_EQ(lines[4], "Status: Successful.");
  EXPECT_EQ(lines[5], " ");
  EXPECT_EQ(lines[7], "To: second@example.org");
  EXPECT_EQ(lines[10],
            "Status: Unable to establish connection with SMTP Server. "
            "Connection refused.");
}

TEST_F(SmtpTest, UnwritableLogIsReportedOnThePageOnly) {
  ::setenv("CORVANE_LOG_DIR", (folder_ / "no" / "such").c_str(), 1);
  FakeSockets peer;
  peer.chunks = HealthyReplies(1);
  Settle();
  smtp_.LogEvent(true);
  EXPECT_TRUE(smtp_.SendMail());
  EXPECT_EQ(smtp_.GetLastErrNum(), 0);
  EXPECT_NE(page_->Output().find("<br>"), std::string::npos);
}

TEST_F(SmtpTest, TheCodeOfAMultiLineReplyIsThatOfItsLastLine) {
  FakeSockets peer;
  peer.chunks = {"220 ready\r\n", "250 hello\r\n", "250 ok\r\n",
                 "250-first line fine\r\n550 but no\r\n", "221 bye\r\n"};
  Settle();
  EXPECT_FALSE(smtp_.SendMail());
  ExpectFailure(kReplyError,
                "Unexpected response: 250-first line fine\r\n550 but no\r\n");
  EXPECT_EQ(peer.Sent().find("DATA"), std::string::npos);
}

TEST_F(SmtpTest, EnvelopeInAngleBracketsAndAQualifiedGreeting) {
  FakeSockets peer;
  peer.chunks = HealthyReplies(1);
  Settle();
  ASSERT_TRUE(smtp_.SendMail());
  std::string sent = peer.Sent();
  EXPECT_TRUE(
      sent.starts_with("HELO [127.0.0.1]\r\n"
                       "MAIL FROM:<from@example.org>\r\n"
                       "RCPT TO:<to@example.org>\r\nDATA\r\n"))
      << sent;
  EXPECT_EQ(smtp_.GetServerReplies(),
            "220 ready\r\n250 hello\r\n250 sender ok\r\n250 rcpt ok\r\n"
            "354 go\r\n250 queued\r\n250 sender ok\r\n221 bye\r\n");
}

TEST_F(SmtpTest, QuitFollowsARefusalButNotABrokenLink) {
  {
    FakeSockets peer;
    peer.chunks = {"220 ready\r\n", "250 hello\r\n", "250 ok\r\n",
                   "550 no such user\r\n", "221 bye\r\n"};
    Settle();
    EXPECT_FALSE(smtp_.SendMail());
    ExpectFailure(kReplyError, "Unexpected response: 550 no such user\r\n");
    EXPECT_TRUE(peer.Sent().ends_with("RCPT TO:<to@example.org>\r\nQUIT\r\n"));
    EXPECT_TRUE(smtp_.GetServerReplies().ends_with("221 bye\r\n"));
    EXPECT_EQ(peer.closed, std::vector<int32_t>{7});
  }
  {
    // A time-out leaves the link in an unknown state: no QUIT, no second
    // wait.
    FakeSockets peer;
    peer.chunks = {"220 ready\r\n", "250 hello\r\n"};
    peer.final_error = 10060;
    EXPECT_FALSE(smtp_.SendMail());
    EXPECT_TRUE(peer.Sent().ends_with("MAIL FROM:<from@example.org>\r\n"));
    EXPECT_EQ(peer.receive_timeouts.size(), 3u);
  }
}

struct AuthCase {
  const char* what;
  std::string ehlo_reply;
  std::deque<std::string> auth_replies;
  std::string auth_sent;  // between EHLO and MAIL FROM
};

TEST_F(SmtpTest, AuthPlainOrLoginWhicheverIsOffered) {
  const AuthCase cases[] = {
      {"PLAIN first",
       "250-mail.test\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n",
       {"235 ok\r\n"},
       "AUTH PLAIN AGZyZWQAczNjcjN0\r\n"},
      {"LOGIN only",
       "250-mail.test\r\n250 AUTH=LOGIN\r\n",
       {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
       "AUTH LOGIN\r\nZnJlZA==\r\nczNjcjN0\r\n"},
  };
  for (const auto& c : cases) {
    FakeSockets peer;
    peer.chunks = {"220 ready\r\n", c.ehlo_reply};
    for (const auto& reply : c.auth_replies) peer.chunks.push_back(reply);
    AfterGreeting(peer.chunks);
    Settle();
    smtp_.AuthUser("fred");
    smtp_.AuthPassword("s3cr3t");
    EXPECT_TRUE(smtp_.SendMail()) << c.what << smtp_.GetLastErrDescription();
    std::string sent = peer.Sent();
    EXPECT_TRUE(sent.starts_with("EHLO [127.0.0.1]\r\n" + c.auth_sent +
                                 "MAIL FROM:<from@example.org>\r\n"))
        << c.what << "\n"
        << sent;
  }
}

TEST_F(SmtpTest, ARefusedLoginFailsAndTheCredentialsStayHidden) {
  smtp_.LogEvent(true);
  FakeSockets peer;
  peer.chunks = {"220 ready\r\n", "250-mail.test\r\n250 AUTH PLAIN\r\n",
                 "535 5.7.8 Authentication credentials invalid\r\n",
                 "221 bye\r\n"};
  Settle();
  smtp_.AuthUser("fred");
  smtp_.AuthPassword("s3cr3t");
  EXPECT_FALSE(smtp_.SendMail());
  ExpectFailure(kReplyError,
                "Unexpected response: 535 5.7.8 Authentication credentials "
                "invalid\r\n");
  EXPECT_TRUE(peer.Sent().ends_with("QUIT\r\n"));
  std::ifstream log(folder_ / "SendMail.log", std::ios::binary);
  std::string logged((std::istreambuf_iterator<char>(log)), {});
  for (const std::string& seen :
       {logged, page_->Output(), smtp_.GetServerReplies(),
        smtp_.GetLastErrDescription()}) {
    EXPECT_EQ(seen.find("s3cr3t"), std::string::npos);
    EXPECT_EQ(seen.find("czNjcjN0"), std::string::npos);
    EXPECT_EQ(seen.find("AGZyZWQAczNjcjN0"), std::string::npos);
  }
}

TEST_F(SmtpTest, CredentialsAServerEchoesAreCutFromEveryReport) {
  const std::pair<const char*, std::deque<std::string>> cases[] = {
      {"PLAIN",
       {"220 ready\r\n", "250-mail.test\r\n250 AUTH PLAIN\r\n",
        "535 refused: AUTH PLAIN AGZyZWQAczNjcjN0\r\n", "221 bye\r\n"}},
      {"LOGIN",
       {"220 ready\r\n", "250-mail.test\r\n250 AUTH LOGIN\r\n",
        "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
        "535-you said czNjcjN0\r\n535 for ZnJlZA==\r\n", "221 bye\r\n"}},
  };
  for (const auto& [what, replies] : cases) {
    smtp_.LogEvent(true);
    FakeSockets peer;
    peer.chunks = replies;
    Settle();
    smtp_.AuthUser("fred");
    smtp_.AuthPassword("s3cr3t");
    EXPECT_FALSE(smtp_.SendMail()) << what;
    EXPECT_EQ(smtp_.GetLastErrNum(), kReplyError) << what;
    std::ifstream log(folder_ / "SendMail.log", std::ios::binary);
    std::string logged((std::istreambuf_iterator<char>(log)), {});
    for (const std::string& seen :
         {logged, page_->Output(), smtp_.GetServerReplies(),
          smtp_.GetLastErrDescription()}) {
      EXPECT_EQ(seen.find("czNjcjN0"), std::string::npos) << what << seen;
      EXPECT_EQ(seen.find("AGZyZWQAczNjcjN0"), std::string::npos) << what;
      EXPECT_EQ(seen.find("ZnJlZA=="), std::string::npos) << what;
    }
    EXPECT_NE(smtp_.GetLastErrDescription().find("535"), std::string::npos);
  }
}

TEST_F(SmtpTest, ExtensionsThatAreRequiredMustBeThere) {
  struct Case {
    const char* what;
    const char* security;
    std::deque<std::string> replies;
    std::string description;
  };
  const Case cases[] = {
      {"no STARTTLS offered",
       "starttls",
       {"220 ready\r\n", "250-mail.test\r\n250 AUTH PLAIN\r\n", "221 bye\r\n"},
       "Unable to establish a secure connection with SMTP Server. The server "
       "does not offer STARTTLS."},
      {"no EHLO, a login asked for",
       "",
       {"220 ready\r\n", "502 not implemented\r\n", "221 bye\r\n"},
       "Unexpected response: 502 not implemented\r\n"},
      {"no AUTH offered",
       "",
       {"220 ready\r\n", "250-mail.test\r\n250 8BITMIME\r\n", "221 bye\r\n"},
       "SMTP Error: The server offers neither AUTH PLAIN nor AUTH LOGIN."},
  };
  for (const auto& c : cases) {
    FakeSockets peer;
    peer.chunks = c.replies;
    auto page = MemoryContext::New();
    SMTP smtp;
    smtp.OnStartPage(Variant(page));
    smtp.SMTPServer("127.0.0.1");
    smtp.MailFrom("from@example.org");
    smtp.MailTo("to@example.org");
    smtp.Security(c.security);
    smtp.AuthUser("fred");
    smtp.AuthPassword("s3cr3t");
    EXPECT_FALSE(smtp.SendMail()) << c.what;
    EXPECT_EQ(smtp.GetLastErrDescription(), c.description) << c.what;
    EXPECT_EQ(peer.Sent().find("MAIL FROM"), std::string::npos) << c.what;
    EXPECT_EQ(peer.Sent().find("AUTH "), std::string::npos) << c.what;
    EXPECT_TRUE(peer.Sent().ends_with("QUIT\r\n")) << c.what;
  }
}

TEST_F(SmtpTest, CredentialsGoInTheClearOnlyToThisMachine) {
  FakeSockets peer;
  Settle();
  smtp_.SMTPServer("192.0.2.1:587");
  smtp_.AuthUser("fred");
  smtp_.AuthPassword("s3cr3t");
  EXPECT_FALSE(smtp_.SendMail());
  EXPECT_EQ(smtp_.GetLastErrNum(), kSettingsError);
  EXPECT_EQ(peer.connects, 0);
  EXPECT_TRUE(peer.sends.empty());

  smtp_.Security("ssl");
  EXPECT_FALSE(smtp_.SendMail());
  EXPECT_EQ(smtp_.GetLastErrDescription(),
            "SMTP Error: Security must be empty, \"none\", \"starttls\" or "
            "\"tls\".");
}

TEST_F(SmtpTest, EightBitBodyOverEightBitMime) {
  FakeSockets peer;
  peer.chunks = {"220 ready\r\n",
                 "250-mail.test\r\n250-AUTH PLAIN\r\n250 8BITMIME\r\n",
                 "235 ok\r\n"};
  AfterGreeting(peer.chunks);
  Settle();
  smtp_.MailContent(
      "Gr\xC3\xBC\xC3\x9F"
      "e");
  smtp_.AuthUser("fred");
  smtp_.AuthPassword("s3cr3t");
  ASSERT_TRUE(smtp_.SendMail()) << smtp_.GetLastErrDescription();
  std::string sent = peer.Sent();
  EXPECT_NE(sent.find("MAIL FROM:<from@example.org> BODY=8BITMIME\r\n"),
            std::string::npos);
  EXPECT_NE(sent.find("charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n"
                      "\r\nFirst line\r\nGr\xC3\xBC\xC3\x9F"
                      "e\r\n"),
            std::string::npos)
      << sent;
}

TEST(DataText, DoublesOnlyLeadingDots) {
  EXPECT_EQ(DataText(""), "");
  EXPECT_EQ(DataText("plain\r\ntext\r\n"), "plain\r\ntext\r\n");
  EXPECT_EQ(DataText(".start"), "..start");
  EXPECT_EQ(DataText("a\r\n.\r\nb"), "a\r\n..\r\nb");
  EXPECT_EQ(DataText("a\r\n..x\r\n.y"), "a\r\n...x\r\n..y");
  EXPECT_EQ(DataText("a.b\r\nc. d"), "a.b\r\nc. d");
  EXPECT_EQ(DataText("\r\n.\r\n.\r\n"), "\r\n..\r\n..\r\n");
}

// A bare LF or CR followed by "." would end the data early at a lenient
// server, which would then read the rest of the body as commands.
TEST(DataText, WritesBareLineBreaksAsCrLf) {
  EXPECT_EQ(DataText("a\n.\nRCPT TO: <x@y>"), "a\r\n..\r\nRCPT TO: <x@y>");
  EXPECT_EQ(DataText("a\r.\rb"), "a\r\n..\r\nb");
  EXPECT_EQ(DataText("x\n\r\n.y"), "x\r\n\r\n..y");
  EXPECT_EQ(DataText("a\r\r\nb\n"), "a\r\n\r\nb\r\n");
}

}  // namespace
}  // namespace corvane::penrill
