// SPDX-License-Identifier: Apache-2.0
// Late-bound objects: members found by name (without regard to case) or by
// position in the class's member order, with property get, property put and
// method call, arguments and results as Variants, by-reference arguments
// written back. ClassBuilder declares a class's member table from lambdas.
#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/Variant.h"
#include "platform/Export.h"
#include "platform/Failure.h"

namespace corvane {

using Arguments = std::vector<Variant>;

class Dispatch;

struct CORVANE_API MemberInfo {
  std::string name;
  std::function<Variant(Dispatch&, Arguments&)> get;
  std::function<void(Dispatch&, Arguments&, const Variant&)> put;
  std::function<Variant(Dispatch&, Arguments&)> call;
};

class CORVANE_API ClassInfo {
 public:
  ClassInfo(std::string name, std::vector<MemberInfo> members)
      : name_(std::move(name)), members_(std::move(members)) {}
  const std::string& name() const { return name_; }
  const std::vector<MemberInfo>& members() const { return members_; }
  // The member's position (from 0); -1 when the class has no such member.
  int Find(std::string_view member) const;

 private:
  std::string name_;
  std::vector<MemberInfo> members_;
};

enum class Invocation { kGet, kPut, kCall };

// Every call below throws Failure: 438 for a member the class lacks, 450 for
// a wrong number of arguments or a put on a member without one, 13 and 6
// for arguments that do not convert, and whatever the member itself raises.
class CORVANE_API Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual const ClassInfo& Class() const = 0;

  Variant Get(std::string_view member, Arguments& args);
  Variant Get(std::string_view member, Arguments&& args = {});
  void Put(std::string_view member, const Variant& value);
  Variant Call(std::string_view member, Arguments& args);
  Variant Call(std::string_view member, Arguments&& args = {});
  // By position in the member order (from 0); `value` is used by kPut.
  Variant Invoke(int position, Invocation kind, Arguments& args,
                 const Variant& value = {});

  // The items of a collection, in order; 438 for objects that are none.
  virtual std::vector<Variant> Enumerate();
};

namespace dispatch_detail {

// The signature of a lambda or function: its result and parameters.
template <class F>
struct Signature : Signature<decltype(&F::operator())> {};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...) const> {
  using Result = R;
  using Parameters = std::tuple<A...>;
};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...)> {
  using Result = R;
  using Parameters = std::tuple<A...>;
};

[[noreturn]] inline void ThrowWrongArguments() {
  throw StandardFailure(kWrongArguments);
}

inline bool Absent(const Arguments& args, size_t index) {
  return index >= args.size() || args[index].IsMissing();
}

// Holds one converted argument for the duration of a call.
template <class P>
struct Holder {
  using Value = std::decay_t<P>;
  Holder(Arguments& args, size_t index) {
    if (Absent(args, index)) ThrowWrongArguments();
    value = FromVariant<Value>(args[index]);
  }
  Value& get() { return value; }
  Value value;
};

// A by-reference argument: the callee writes the caller's slot.
template <>
struct Holder<Variant&> {
  Holder(Arguments& args, size_t index) : args(&args), index(index) {}
  Variant& get() { return index < args->size() ? (*args)[index] : local; }
  Arguments* args;
  size_t index;
  Variant local{Missing{}};
};

template <>
struct Holder<const Variant&> {
  Holder(Arguments& args, size_t index)
      : value(index < args.size() ? args[index] : Variant(Missing{})) {}
  const Variant& get() { return value; }
  Variant value;
};

template <>
struct Holder<Variant> : Holder<const Variant&> {
  using Holder<const Variant&>::Holder;
};

template <>
struct Holder<std::string_view> {
  Holder(Arguments& args, size_t index) {
    if (Absent(args, index)) ThrowWrongArguments();
    value = args[index].ToText();
  }
  std::string_view get() { return value; }
  std::string value;
};

template <class X>
struct Holder<std::optional<X>> {
  Holder(Arguments& args, size_t index) {
    if (!Absent(args, index)) value = FromVariant<X>(args[index]);
  }
  std::optional<X>& get() { return value; }
  std::optional<X> value;
};

template <class X>
struct Holder<std::shared_ptr<X>> {
  Holder(Arguments& args, size_t index) {
    if (Absent(args, index)) ThrowWrongArguments();
    auto object = args[index].ToObject();
    value = std::dynamic_pointer_cast<X>(object);
    if (object && !value) throw StandardFailure(kTypeMismatch);
  }
  std::shared_ptr<X>& get() { return value; }
  std::shared_ptr<X> value;
};

// A parameter array: every argument from its position on, as given.
template <>
struct Holder<Arguments> {
  Holder(Arguments& args, size_t index)
      : value(index < args.size() ? args.begin() + static_cast<long>(index)
                                  : args.end(),
              args.end()) {}
  const Arguments& get() { return value; }
  Arguments value;
};

template <class P>
struct Holder<const P&> : Holder<P> {
  using Holder<P>::Holder;
};

// Calls f(self, converted args...) and wraps the result in a Variant.
// Whether the last of the parameters is a parameter array.
template <class... P>
constexpr bool EndsInParameterArray() {
  if constexpr (sizeof...(P) == 0) {
    return false;
  } else {
    using Last = std::tuple_element_t<sizeof...(P) - 1, std::tuple<P...>>;
    return std::is_same_v<std::decay_t<Last>, Arguments>;
  }
}

template <class T, class F, class R, class Self, class... P>
Variant Apply(F& f, T& self, Arguments& args, std::tuple<Self, P...>*) {
  if (!EndsInParameterArray<P...>() && args.size() > sizeof...(P)) {
    ThrowWrongArguments();
  }
  return [&]<size_t... I>(std::index_sequence<I...>)->Variant {
    std::tuple<Holder<P>...> holders{Holder<P>(args, I)...};
    if constexpr (std::is_void_v<R>) {
      f(self, std::get<I>(holders).get()...);
      return Variant();
    } else {
      return Variant(f(self, std::get<I>(holders).get()...));
    }
  }
  (std::index_sequence_for<P...>{});
}

template <class T, class F>
Variant Call(F& f, T& self, Arguments& args) {
  using S = Signature<F>;
  return Apply<T, F, typename S::Result>(
      f, self, args, static_cast<typename S::Parameters*>(nullptr));
}

// A recorded error number as a member of width `Number` returns it; 6
// "Overflow" when it does not fit.
template <class Number>
Number NarrowedErrorNumber(int32_t number) {
  if (number < std::numeric_limits<Number>::min() ||
      number > std::numeric_limits<Number>::max()) {
    throw StandardFailure(kOverflow);
  }
  return static_cast<Number>(number);
}

}  // namespace dispatch_detail

// Declares the member table of class T in the order of its interface:
//   ClassBuilder<SMTP>("SMTP")
//       .Let("MailTo", [](SMTP& o, std::string_view v) { o.MailTo(v); })
//       .Get("GetLastErrNum", [](SMTP& o) { return o.GetLastErrNum(); })
//       .Method("SendMail", [](SMTP& o) { return o.SendMail(); })
//       .Build();
// Parameters after `T&` are converted from the arguments; a `Variant&`
// parameter is passed by reference and written back; std::optional marks
// an optional argument; a last parameter `const Arguments&` is a parameter
// array that receives every remaining argument as given.
template <class T>
class ClassBuilder {
 public:
  explicit ClassBuilder(std::string name) : name_(std::move(name)) {}

  template <class G>
  ClassBuilder& Get(std::string name, G getter) {
    MemberInfo& member = Add(std::move(name));
    member.get = [getter](Dispatch& self, Arguments& args) mutable {
      return dispatch_detail::Call(getter, static_cast<T&>(self), args);
    };
    return *this;
  }

  template <class S>
  ClassBuilder& Let(std::string name, S setter) {
    MemberInfo& member = Add(std::move(name));
    SetPut(member, std::move(setter));
    return *this;
  }

  template <class G, class S>
  ClassBuilder& Property(std::string name, G getter, S setter) {
    Get(name, std::move(getter));
    SetPut(members_.back(), std::move(setter));
    return *this;
  }

  template <class F>
  ClassBuilder& Method(std::string name, F method) {
    MemberInfo& member = Add(std::move(name));
    member.call = [method](Dispatch& self, Arguments& args) mutable {
      return dispatch_detail::Call(method, static_cast<T&>(self), args);
    };
    return *this;
  }

  // A property with get and let over a data member of a record class.
  template <class V>
  ClassBuilder& Field(std::string name, V T::*field) {
    return Property(
        std::move(name), [field](T& o) { return o.*field; },
        [field](T& o, const V& value) { o.*field = value; });
  }

  // The three getters of a component's last-error triple (T derives from
  // Component), the number returned as `Number`: a number that does not
  // fit raises 6 "Overflow".
  template <class Number = int32_t>
  ClassBuilder& ErrorMembers() {
    Get("GetLastErrNum", [](T& o) {
      return dispatch_detail::NarrowedErrorNumber<Number>(o.GetLastErrNum());
    });
    Get("GetLastErrSource", [](T& o) { return o.GetLastErrSource(); });
    Get("GetLastErrDescription",
        [](T& o) { return o.GetLastErrDescription(); });
    return *this;
  }

  // A component's page binding, OnStartPage and OnEndPage.
  ClassBuilder& PageMembers() {
    Method("OnStartPage", [](T& o, const Variant& theScriptingContext) {
      o.OnStartPage(theScriptingContext);
    });
    Method("OnEndPage", [](T& o) { o.OnEndPage(); });
    return *this;
  }

  ClassInfo Build() { return ClassInfo(name_, std::move(members_)); }

 private:
  MemberInfo& Add(std::string name) {
    members_.push_back(MemberInfo{std::move(name), {}, {}, {}});
    return members_.back();
  }

  template <class S>
  void SetPut(MemberInfo& member, S setter) {
    member.put = [setter](Dispatch& self, Arguments& args,
                          const Variant& value) mutable {
      if (!args.empty()) dispatch_detail::ThrowWrongArguments();
      Arguments one{value};
      dispatch_detail::Call(setter, static_cast<T&>(self), one);
    };
  }

  std::string name_;
  std::vector<MemberInfo> members_;
};

// Implements Class() for a class whose table is built by its static
// Members() function, once.
template <class T, class Base = Dispatch>
class DispatchClass : public Base {
 public:
  using Base::Base;
  const ClassInfo& Class() const override {
    static const ClassInfo info = T::Members();
    return info;
  }
};

}  // namespace corvane
