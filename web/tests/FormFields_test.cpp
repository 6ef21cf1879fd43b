// SPDX-License-Identifier: Apache-2.0
#include "web/FormFields.h"

#include <gtest/gtest.h>

#include "web/Html.h"

namespace corvane::web {
namespace {

TEST(FormFields, DecodesRepeatedAndEmptyFields) {
  auto form = FormFields::Parse(
      "to=a%40b.test&attach=x+y.txt&attach=%3Cz%3E"
      "&empty=&bare&&subject=caf%C3%A9");
  EXPECT_EQ(form.Value("to"), "a@b.test");
  EXPECT_EQ(form.Values("attach"),
            (std::vector<std::string>{"x y.txt", "<z>"}));
  EXPECT_EQ(form.Value("empty"), "");
  EXPECT_EQ(form.Value("bare"), "");
  EXPECT_EQ(form.Value("subject"), "caf\xC3\xA9");
  EXPECT_EQ(form.Value("missing"), "");
  EXPECT_TRUE(form.Values("missing").empty());
}

TEST(FormFields, RefusesFormsOverTheBounds) {
  std::string many;
  for (size_t i = 0; i <= FormFields::kMaxFields; ++i) many += "f=1&";
  EXPECT_THROW(FormFields::Parse(many), FormTooLarge);
  std::string big = "body=" + std::string(FormFields::kMaxValueBytes + 1, 'a');
  EXPECT_THROW(FormFields::Parse(big), FormTooLarge);
  EXPECT_NO_THROW(FormFields::Parse(
      "body=" + std::string(FormFields::kMaxValueBytes, 'a')));
}

TEST(Html, EscapesEveryMarkupCharacter) {
  EXPECT_EQ(
      Escape("<a href=\"x\" title='y'>&amp;</a>"),
      "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(Escape("plain \xC3\xA9 text"), "plain \xC3\xA9 text");
  EXPECT_EQ(TableHtml({"<h>"}, {{"<c>"}}),
            "<table><tr><th>&lt;h&gt;</th></tr>\n<tr><td>&lt;c&gt;</td></tr>\n"
            "</table>\n");
}

}  // namespace
}  // namespace corvane::web
