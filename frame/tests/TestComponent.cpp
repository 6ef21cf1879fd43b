// SPDX-License-Identifier: Apache-2.0
#include "frame/tests/TestComponent.h"

#include "frame/Registry.h"

namespace corvane::testing {

ClassInfo TestObject::Members() {
  using T = TestObject;
  return ClassBuilder<T>("TestObject")
      .Property(
          "Name", [](T& o) { return o.Name(); },
          [](T& o, std::string_view v) { o.Name(v); })
      .Property(
          "Small", [](T& o) { return o.Small(); },
          [](T& o, int16_t v) { o.Small(v); })
      .Method("Twice", [](T& o, Variant& v) { return o.Twice(v); })
      .Method("AddItem", [](T& o, std::string_view key,
                            const Variant& v) { o.AddItem(key, v); })
      .Get("Items", [](T& o) { return o.Items(); })
      .Method("Raise", [](T& o, int32_t number,
                          std::string_view text) { o.Raise(number, text); })
      .Method("OnStartPage",
              [](T& o, const Variant& context) { o.OnStartPage(context); })
      .Method("OnEndPage", [](T& o) { o.OnEndPage(); })
      .Method("Say", [](T& o, std::string_view text) { o.Say(text); })
      .Method("Echo", [](T& o, const Bytes& v) { return o.Echo(v); })
      .Build();
}

TestObject::TestObject() : items_(Collection::New()) {}

Variant TestObject::Twice(Variant& value) {
  Variant old = value;
  value = value.ToInt32() * 2;
  return old;
}

void TestObject::AddItem(std::string_view key, const Variant& value) {
  items_->Add(value, std::string(key));
}

void TestObject::Raise(int32_t number, std::string_view description) {
  throw Failure(number, "Corvane.Test", std::string(description));
}

void TestObject::OnStartPage(const Variant& context) {
  context_ = ContextFrom(context);
}

}  // namespace corvane::testing

CORVANE_COMPONENT_LIBRARY(corvane::Creatable<corvane::testing::TestObject>(
    "Corvane.Test", "{6C1B0F3E-2D4A-4E8B-9A51-3F7C2E9D0B14}"))
