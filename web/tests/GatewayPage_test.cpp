// SPDX-License-Identifier: Apache-2.0
#include "web/GatewayPage.h"

#include <gtest/gtest.h>

namespace corvane::web {
namespace {

TEST(GatewayPage, TheProgramsAnswerReadsAsText) {
  EXPECT_EQ(GatewayAnswerText("Unhandled Exception. Cannot open "
                              "/tmp/corvane-serve-Ab1/cgi-bin/x: &quot;a&amp;b"
                              "&quot;<br>Second line<BR/><p>End</p>",
                              "/tmp/corvane-serve-Ab1"),
            "Unhandled Exception. Cannot open the console's folder/cgi-bin/x: "
            "\"a&b\"\nSecond line\nEnd\n");
  EXPECT_EQ(GatewayAnswerText("a &lt;b&gt; &copy; <unclosed", ""),
            "a <b> &copy; ");
}

}  // namespace
}  // namespace corvane::web
