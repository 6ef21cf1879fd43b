// SPDX-License-Identifier: Apache-2.0
// The value that crosses the component boundary: empty, missing, Boolean,
// 16- and 32-bit integers, currency, double, text, byte array or object,
// with the coercions a script host makes between them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Export.h"

namespace corvane {

class Dispatch;

struct CORVANE_API Empty {
  bool operator==(const Empty&) const = default;
};
// An optional argument the caller left out.
struct CORVANE_API Missing {
  bool operator==(const Missing&) const = default;
};
// Signed 64-bit count of ten-thousandths.
struct CORVANE_API Currency {
  int64_t value = 0;
  bool operator==(const Currency&) const = default;
};
// A byte array; held as a string so that it moves to and from text without
// a copy.
struct CORVANE_API Bytes {
  std::string data;
  bool operator==(const Bytes&) const = default;
};

class CORVANE_API Variant {
 public:
  using Object = std::shared_ptr<Dispatch>;
  using Value = std::variant<Empty, Missing, bool, int16_t, int32_t, Currency,
                             double, std::string, Bytes, Object>;

  Variant() = default;
  Variant(Empty) {}
  Variant(Missing v) : value_(v) {}
  Variant(bool v) : value_(v) {}
  Variant(int16_t v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(Currency v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::string_view v) : value_(std::string(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(Bytes v) : value_(std::move(v)) {}
  Variant(Object v) : value_(std::move(v)) {}
  template <class T>
  requires std::is_base_of_v<Dispatch, T> Variant(std::shared_ptr<T> v)
      : value_(Object(std::move(v))) {}

  const Value& value() const { return value_; }
  template <class T>
  bool Is() const {
    return std::holds_alternative<T>(value_);
  }
  bool IsEmpty() const { return Is<Empty>(); }
  bool IsMissing() const { return Is<Missing>(); }
  bool IsObject() const { return Is<Object>(); }
  bool IsNumeric() const;

  // Coercions; each throws Failure 13 "Type mismatch" when the value has no
  // such form and 6 "Overflow" when it is out of range.
  std::string ToText() const;
  bool ToBool() const;
  int16_t ToInt16() const;
  int32_t ToInt32() const;
  double ToDouble() const;
  Currency ToCurrency() const;
  Bytes ToBytes() const;
  // The object held; nullptr for empty; 13 for anything else.
  Object ToObject() const;
  // The text held, moved out without a copy where possible (bytes become
  // text unchanged); 13 where ToText would fail.
  std::string TakeText();

  // The name of the held type, for messages ("String", "Integer", ...).
  std::string TypeName() const;

  bool operator==(const Variant& other) const = default;

 private:
  Value value_;
};

// Conversions between C++ values and variants, used by the member tables.
template <class T>
T FromVariant(const Variant& v);
template <>
inline Variant FromVariant<Variant>(const Variant& v) {
  return v;
}
template <>
inline std::string FromVariant<std::string>(const Variant& v) {
  return v.ToText();
}
template <>
inline bool FromVariant<bool>(const Variant& v) {
  return v.ToBool();
}
template <>
inline int16_t FromVariant<int16_t>(const Variant& v) {
  return v.ToInt16();
}
template <>
inline int32_t FromVariant<int32_t>(const Variant& v) {
  return v.ToInt32();
}
template <>
inline double FromVariant<double>(const Variant& v) {
  return v.ToDouble();
}
template <>
inline Currency FromVariant<Currency>(const Variant& v) {
  return v.ToCurrency();
}
template <>
inline Bytes FromVariant<Bytes>(const Variant& v) {
  return v.ToBytes();
}
template <>
inline Variant::Object FromVariant<Variant::Object>(const Variant& v) {
  return v.ToObject();
}

}  // namespace corvane
