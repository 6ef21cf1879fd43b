// SPDX-License-Identifier: Apache-2.0
#include "frame/Dispatch.h"

#include "frame/Text.h"

namespace corvane {
namespace {

[[noreturn]] void ThrowNoMember() { throw StandardFailure(kNoSuchMember); }

}  // namespace

int ClassInfo::Find(std::string_view member) const {
  for (size_t i = 0; i < members_.size(); ++i) {
    if (EqualsIgnoringCase(members_[i].name, member)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

Variant Dispatch::Invoke(int position, Invocation kind, Arguments& args,
                         const Variant& value) {
  const auto& members = Class().members();
  if (position < 0 || static_cast<size_t>(position) >= members.size()) {
    ThrowNoMember();
  }
  const MemberInfo& member = members[static_cast<size_t>(position)];
  switch (kind) {
    case Invocation::kPut:
      if (!member.put) throw StandardFailure(kWrongArguments);
      member.put(*this, args, value);
      return Variant();
    case Invocation::kGet:
      // A script may read a method without arguments like a property.
      if (member.get) return member.get(*this, args);
      if (member.call) return member.call(*this, args);
      break;
    case Invocation::kCall:
      if (member.call) return member.call(*this, args);
      if (member.get) return member.get(*this, args);
      break;
  }
  ThrowNoMember();
}

namespace {
int Position(const Dispatch& object, std::string_view member) {
  int position = object.Class().Find(member);
  if (position < 0) ThrowNoMember();
  return position;
}
}  // namespace

Variant Dispatch::Get(std::string_view member, Arguments& args) {
  return Invoke(Position(*this, member), Invocation::kGet, args);
}

Variant Dispatch::Get(std::string_view member, Arguments&& args) {
  return Get(member, args);
}

void Dispatch::Put(std::string_view member, const Variant& value) {
  Arguments none;
  Invoke(Position(*this, member), Invocation::kPut, none, value);
}

Variant Dispatch::Call(std::string_view member, Arguments& args) {
  return Invoke(Position(*this, member), Invocation::kCall, args);
}

Variant Dispatch::Call(std::string_view member, Arguments&& args) {
  return Call(member, args);
}

std::vector<Variant> Dispatch::Enumerate() { ThrowNoMember(); }

}  // namespace corvane
