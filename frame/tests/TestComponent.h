// SPDX-License-Identifier: Apache-2.0
// A small component used only by tests of the component model, the
// registry and the script host.
#pragma once

#include <memory>
#include <string>

#include "frame/Collection.h"
#include "frame/Host.h"

namespace corvane::testing {

class TestObject : public DispatchClass<TestObject> {
 public:
  static ClassInfo Members();
  TestObject();

  std::string Name() const { return name_; }
  void Name(std::string_view value) { name_ = value; }
  int16_t Small() const { return small_; }
  void Small(int16_t value) { small_ = value; }
  // Doubles the argument in place and returns its old value.
  Variant Twice(Variant& value);
  // Appends an item under a key; the collection raises 457 on a duplicate.
  void AddItem(std::string_view key, const Variant& value);
  std::shared_ptr<Collection> Items() const { return items_; }
  // Raises a failure with the given number and description.
  void Raise(int32_t number, std::string_view description);
  void OnStartPage(const Variant& context);
  void OnEndPage() { context_.reset(); }
  // Writes the text and "<br>" to the page.
  void Say(std::string_view text) { WriteToPage(context_, text); }
  // A bytes value echoed back.
  Bytes Echo(const Bytes& value) { return value; }

 private:
  std::string name_;
  int16_t small_ = 0;
  std::shared_ptr<Collection> items_;
  std::shared_ptr<ScriptingContext> context_;
};

}  // namespace corvane::testing
