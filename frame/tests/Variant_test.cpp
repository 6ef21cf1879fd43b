// SPDX-License-Identifier: Apache-2.0
#include "frame/Variant.h"

#include <gtest/gtest.h>

#include "platform/Failure.h"
#include "platform/tests/Caught.h"

namespace corvane {
namespace {

TEST(Variant, TextConvertsToNumbersLikeTheScriptHost) {
  EXPECT_EQ(Variant(" 42 ").ToInt32(), 42);
  EXPECT_EQ(Variant("-7").ToInt16(), -7);
  EXPECT_EQ(Variant("&H10").ToInt32(), 16);
  EXPECT_EQ(Variant("&HFFFF").ToInt16(), -1);
  EXPECT_EQ(Variant("1e3").ToInt32(), 1000);
  EXPECT_EQ(Variant("2.5").ToInt32(), 2);  // half to even
  EXPECT_EQ(Variant("3.5").ToInt32(), 4);
  EXPECT_EQ(Variant(-2.5).ToInt16(), -2);
  EXPECT_EQ(FailureNumber([] { Variant("abc").ToInt32(); }), kTypeMismatch);
  EXPECT_EQ(FailureNumber([] { Variant("").ToInt32(); }), kTypeMismatch);
  EXPECT_EQ(FailureNumber([] { Variant("0x10").ToInt32(); }), kTypeMismatch);
  EXPECT_EQ(FailureNumber([] { Variant(Bytes{"1"}).ToInt32(); }),
            kTypeMismatch);
}

TEST(Variant, OutOfRangeIsOverflow) {
  EXPECT_EQ(FailureNumber([] { Variant(int32_t{32768}).ToInt16(); }),
            kOverflow);
  EXPECT_EQ(FailureNumber([] { Variant("-32769").ToInt16(); }), kOverflow);
  EXPECT_EQ(FailureNumber([] { Variant(3e9).ToInt32(); }), kOverflow);
  EXPECT_EQ(FailureNumber([] { Variant("1e400").ToDouble(); }), kOverflow);
  EXPECT_EQ(Variant(int32_t{-32768}).ToInt16(), -32768);
  EXPECT_EQ(Variant(Currency{-21474836480000}).ToInt32(), INT32_MIN);
}

TEST(Variant, BooleansAndEmpty) {
  EXPECT_EQ(Variant(true).ToInt32(), -1);
  EXPECT_EQ(Variant(false).ToText(), "False");
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_TRUE(Variant("TRUE").ToBool());
  EXPECT_FALSE(Variant(" false").ToBool());
  EXPECT_TRUE(Variant("-1").ToBool());
  EXPECT_FALSE(Variant(int16_t{0}).ToBool());
  EXPECT_EQ(FailureNumber([] { Variant("yes").ToBool(); }), kTypeMismatch);
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_EQ(Variant().ToInt32(), 0);
  EXPECT_FALSE(Variant().ToBool());
}

TEST(Variant, NumbersAsText) {
  EXPECT_EQ(Variant(int16_t{-5}).ToText(), "-5");
  EXPECT_EQ(Variant(Currency{12345678}).ToText(), "1234.5678");
  EXPECT_EQ(Variant(Currency{-15000}).ToText(), "-1.5");
  EXPECT_EQ(Variant(Currency{20000}).ToText(), "2");
  EXPECT_EQ(Variant(0.5).ToText(), "0.5");
  EXPECT_EQ(Variant(1e20).ToText(), "1E+20");
  EXPECT_EQ(Variant("1.25").ToCurrency().value, 12500);
  EXPECT_EQ(Variant(Currency{25000}).ToInt32(), 2);
  EXPECT_EQ(Variant(Currency{35000}).ToInt32(), 4);
}

TEST(Variant, BytesAndTextShareTheirBytes) {
  std::string binary("\0\xff\x80x", 4);
  Variant bytes(Bytes{binary});
  EXPECT_EQ(bytes.ToText(), binary);
  EXPECT_EQ(Variant(binary).ToBytes().data, binary);
  Variant movable(Bytes{binary});
  EXPECT_EQ(movable.TakeText(), binary);
  EXPECT_EQ(FailureNumber([] { Variant(int32_t{1}).ToBytes(); }),
            kTypeMismatch);
  EXPECT_EQ(FailureNumber([] { Variant(1.0).ToObject(); }), kTypeMismatch);
  EXPECT_EQ(Variant().ToObject(), nullptr);
}

}  // namespace
}  // namespace corvane
