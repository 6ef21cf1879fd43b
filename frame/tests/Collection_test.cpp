// SPDX-License-Identifier: Apache-2.0
#include "frame/Collection.h"

#include <gtest/gtest.h>

#include "platform/tests/Caught.h"

namespace corvane {
namespace {

TEST(Collection, PositionsFromOneKeysWithoutRegardToCase) {
  auto list = Collection::New();
  list->Add("one", "First");
  list->Add("two");
  list->Add(int32_t{3}, "third");
  EXPECT_EQ(list->Count(), 3);
  EXPECT_EQ(list->Item(int32_t{1}).ToText(), "one");
  EXPECT_EQ(list->Item(int16_t{3}).ToInt32(), 3);
  EXPECT_EQ(list->Item("FIRST").ToText(), "one");
  EXPECT_EQ(list->Item("Third").ToInt32(), 3);
  EXPECT_EQ(list->Items().size(), 3u);
  EXPECT_EQ(FailureNumber([&] { list->Item(int32_t{0}); }),
            kSubscriptOutOfRange);
  EXPECT_EQ(FailureNumber([&] { list->Item(int32_t{4}); }),
            kSubscriptOutOfRange);
  EXPECT_EQ(FailureNumber([&] { list->Item("fourth"); }), kInvalidCall);
}

TEST(Collection, DuplicateKeyIs457AndAddsNothing) {
  auto list = Collection::New();
  list->Add("a", "Key");
  EXPECT_EQ(FailureNumber([&] { list->Add("b", "KEY"); }), kDuplicateKey);
  EXPECT_EQ(list->Count(), 1);
  list->Add("c");
  EXPECT_EQ(list->Enumerate(), (std::vector<Variant>{"a", "c"}));
}

TEST(Collection, ScriptsReachItThroughItsMembers) {
  auto list = Collection::New();
  list->Call("Add", {"x", "k"});
  list->Call("add", {"y"});
  EXPECT_EQ(list->Get("Count").ToInt32(), 2);
  EXPECT_EQ(list->Get("Item", {"K"}).ToText(), "x");
  EXPECT_EQ(list->Get("item", {int32_t{2}}).ToText(), "y");
  EXPECT_EQ(FailureNumber([&] {
              list->Call("Add", {"z", "k"});
            }),
            kDuplicateKey);
}

}  // namespace
}  // namespace corvane
