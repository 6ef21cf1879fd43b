// SPDX-License-Identifier: Apache-2.0
#include "frame/Dispatch.h"

#include <gtest/gtest.h>

#include "frame/tests/TestComponent.h"
#include "platform/tests/Caught.h"

namespace corvane {
namespace {

using testing::TestObject;

TEST(Dispatch, MembersByNameWithoutRegardToCaseAndByPosition) {
  TestObject object;
  object.Put("NAME", "first");
  EXPECT_EQ(object.Get("name").ToText(), "first");
  int position = object.Class().Find("small");
  EXPECT_EQ(position, 1);
  Arguments none;
  object.Invoke(position, Invocation::kPut, none, int32_t{7});
  EXPECT_EQ(object.Invoke(position, Invocation::kGet, none).ToInt32(), 7);
  EXPECT_EQ(object.Class().members()[0].name, "Name");
  EXPECT_EQ(object.Class().Find("Nope"), -1);
}

TEST(Dispatch, ByReferenceArgumentsAreWrittenBack) {
  TestObject object;
  Arguments args{int32_t{21}};
  Variant old = object.Call("Twice", args);
  EXPECT_EQ(old.ToInt32(), 21);
  EXPECT_EQ(args[0].ToInt32(), 42);
  // Text that holds a number converts before the member sees it.
  Arguments text{Variant("5")};
  object.Call("Twice", text);
  EXPECT_EQ(text[0].ToInt32(), 10);
}

TEST(Dispatch, ArgumentsAreCoercedOrRefused) {
  TestObject object;
  object.Put("Small", "300");
  EXPECT_EQ(object.Small(), 300);
  EXPECT_EQ(FailureNumber([&] { object.Put("Small", int32_t{70000}); }),
            kOverflow);
  EXPECT_EQ(FailureNumber([&] { object.Put("Small", "many"); }), kTypeMismatch);
  EXPECT_EQ(object.Small(), 300);
  EXPECT_EQ(FailureNumber([&] { object.Call("Raise", {int32_t{1}}); }),
            kWrongArguments);
  EXPECT_EQ(FailureNumber([&] {
              object.Call("Say", {"a", "b"});
            }),
            kWrongArguments);
  EXPECT_EQ(FailureNumber([&] { object.Put("Items", int32_t{1}); }),
            kWrongArguments);
  EXPECT_EQ(FailureNumber([&] { object.Call("Missing"); }), kNoSuchMember);
}

TEST(Dispatch, FailuresOfMembersPassThroughUnchanged) {
  TestObject object;
  try {
    object.Call("Raise", {int32_t{-2147221500}, "broken"});
    FAIL();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number, -2147221500);
    EXPECT_EQ(failure.source, "Corvane.Test");
    EXPECT_EQ(failure.description, "broken");
  }
}

TEST(Dispatch, ObjectsTravelInVariants) {
  auto object = std::make_shared<TestObject>();
  Variant items = object->Get("Items");
  ASSERT_TRUE(items.IsObject());
  EXPECT_EQ(items.ToObject()->Class().name(), "Collection");
  EXPECT_EQ(FailureNumber([&] { object->Call("OnStartPage", {items}); }),
            kTypeMismatch);
  EXPECT_EQ(FailureNumber([&] { object->Enumerate(); }), kNoSuchMember);
}

}  // namespace
}  // namespace corvane
