// SPDX-License-Identifier: Apache-2.0
#include "whois/RdapBootstrap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/tests/Caught.h"

namespace corvane::namewell {
namespace {

constexpr std::string_view kTable = R"({
  "description": "RDAP bootstrap file for Domain Name System registrations",
  "publication": "2026-12-01T00:00:00Z",
  "services": [
    [["com", "NET"], ["http://plain.example/rdap", "https://rdap.example/com/"]],
    [["zz"], ["https://rdap.zz.example/"]],
    [["example.zz"], ["http://127.0.0.1:8000/private"]]
  ],
  "version": "1.0"
})";

TEST(RdapBootstrapTest, LongestRunOfLabelsWins) {
  RdapBootstrap table = ReadBootstrap(kTable);
  EXPECT_EQ(table.publication, "2026-12-01T00:00:00Z");
  struct {
    const char* name;
    const char* base;
  } rows[] = {
      {"widget.com", "https://rdap.example/com/"},  // https preferred
      {"WIDGET.Net.", "https://rdap.example/com/"},
      {"widget.zz", "https://rdap.zz.example/"},
      {"shop.example.zz", "http://127.0.0.1:8000/private/"},
      {"example.zz", "http://127.0.0.1:8000/private/"},
      {"notexample.zz", "https://rdap.zz.example/"},
      {"zz", "https://rdap.zz.example/"},
      {"widget.yy", ""},
      {"", ""},
      {".", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(RdapBaseFor(table, row.name), row.base) << row.name;
  }
  EXPECT_EQ(TopLevelLabel("Shop.Example.ZZ."), "zz");
  EXPECT_EQ(TopLevelLabel("localhost"), "localhost");
}

TEST(RdapBootstrapTest, RefusesWhatIsNoBootstrap) {
  struct {
    const char* text;
    const char* problem;
  } rows[] = {
      {"", "it is not JSON"},
      {"[]", "it is not a JSON object"},
      {R"({"publication":"x","services":[]})", "\"version\" is missing"},
      {R"({"version":"2.0","publication":"x","services":[]})",
       "\"version\" is not \"1.0\""},
      {R"({"version":"1.0","services":[]})", "\"publication\" is missing"},
      {R"({"version":"1.0","publication":"x","description":1,"services":[]})",
       "\"description\" is not a text"},
      {R"({"version":"1.0","publication":"x","services":{}})",
       "\"services\" is missing or not a list"},
      {R"({"version":"1.0","publication":"x","services":[["com"]]})",
       "service 1 is not a pair of an entry list and a URL list"},
      {R"({"version":"1.0","publication":"x","services":[[["com"],["ftp://a/"]]]})",
       "service 1 has no http or https URL"},
      {R"({"version":"1.0","publication":"x","services":[[[],["https://a/"]]]})",
       "service 1 lists no entries"},
      {R"({"version":"1.0","publication":"x","services":[[["com"],["https://a/"]],[[7],["https://b/"]]]})",
       "service 2 has an entry that is not a domain label"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FailureDescription([&] { (void)ReadBootstrap(row.text); }),
              row.problem)
        << row.text;
  }
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(RdapBootstrapTest, ShippedTableKnowsTheMainDomains) {
  RdapBootstrap table = ReadBootstrap(FileText(CORVANE_RDAP_BOOTSTRAP));
  EXPECT_EQ(RdapBaseFor(table, "example.com"),
            "https://rdap.verisign.com/com/v1/");
  EXPECT_EQ(RdapBaseFor(table, "example.net"),
            "https://rdap.verisign.com/net/v1/");
  EXPECT_NE(RdapBaseFor(table, "example.org"), "");
  EXPECT_NE(RdapBaseFor(table, "example.info"), "");
  EXPECT_NE(RdapBaseFor(table, "example.fr"), "");
  EXPECT_EQ(RdapBaseFor(table, "widget.zz"), "");
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("rdap-install-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder_);
    ::setenv("CORVANE_DATA", folder_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("CORVANE_DATA");
    std::filesystem::remove_all(folder_);
  }
  std::string Write(const char* name, std::string_view text) {
    std::ofstream(folder_ / name) << text;
    return (folder_ / name).string();
  }
  std::filesystem::path folder_;
};

TEST_F(InstallTest, GoodFileReplacesAndBadFileLeavesTheInstalledOne) {
  std::string good = Write("good.json", kTable);
  EXPECT_EQ(InstallBootstrap(good).servers.size(), 4u);
  EXPECT_EQ(BootstrapPath(), (folder_ / kBootstrapFile).string());
  EXPECT_EQ(FileText(BootstrapPath()), kTable);
  EXPECT_EQ(LoadBootstrap().servers.size(), 4u);

  std::string bad = Write("bad.json", R"({"version":"1.0"})");
  EXPECT_EQ(FailureDescription([&] { (void)InstallBootstrap(bad); }),
            bad + " is not an RDAP bootstrap file: \"publication\" is missing");
  std::string absent = (folder_ / "absent.json").string();
  EXPECT_EQ(FailureDescription([&] {
              (void)InstallBootstrap(absent);
            }).rfind(absent + " cannot be read: ", 0),
            0u);
  EXPECT_EQ(FileText(BootstrapPath()), kTable);
  // Nothing but the two sources and the installed file: no temporaries.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_),
                          std::filesystem::directory_iterator()),
            3);

  std::filesystem::remove(BootstrapPath());
  std::string missing = FailureDescription([] { (void)LoadBootstrap(); });
  EXPECT_EQ(missing.rfind("The RDAP bootstrap file " + BootstrapPath() +
                              " cannot be read: ",
                          0),
            0u)
      << missing;
}

}  // namespace
}  // namespace corvane::namewell
