// SPDX-License-Identifier: Apache-2.0
#include "frame/Variant.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "frame/Dispatch.h"
#include "frame/Text.h"
#include "platform/Failure.h"

namespace corvane {
namespace {

[[noreturn]] void ThrowMismatch() { throw StandardFailure(kTypeMismatch); }
[[noreturn]] void ThrowOverflow() { throw StandardFailure(kOverflow); }

// A number written as text: decimal, with sign, point and exponent, or
// hexadecimal after "&H".
double ParseNumber(std::string_view text) {
  std::string trimmed(TrimBlanks(text));
  if (trimmed.empty()) ThrowMismatch();
  if (trimmed.size() > 2 && trimmed[0] == '&' &&
      (trimmed[1] == 'H' || trimmed[1] == 'h')) {
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(trimmed.c_str() + 2, &end, 16);
    if (*end != '\0') ThrowMismatch();
    if (errno == ERANGE || value > 0xFFFFFFFFull) ThrowOverflow();
    // Hexadecimal literals are 16- or 32-bit two's-complement patterns.
    if (value <= 0xFFFF) return static_cast<int16_t>(value);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  if (trimmed.find_first_of("xXpP") != std::string::npos) ThrowMismatch();
  char* end = nullptr;
  double value = std::strtod(trimmed.c_str(), &end);
  if (*end != '\0' || std::isnan(value)) ThrowMismatch();
  if (std::isinf(value)) ThrowOverflow();
  return value;
}

// Rounds half to even, as the script host does, and checks the range.
template <class Int>
Int RoundToInteger(double value) {
  double rounded = std::nearbyint(value);
  if (!(rounded >= std::numeric_limits<Int>::min() &&
        rounded <= std::numeric_limits<Int>::max())) {
    ThrowOverflow();
  }
  return static_cast<Int>(rounded);
}

int64_t RoundCurrencyToInteger(int64_t value) {
  int64_t whole = value / 10000, rest = value % 10000;
  if (rest > 5000 || (rest == 5000 && whole % 2 != 0)) ++whole;
  if (rest < -5000 || (rest == -5000 && whole % 2 != 0)) --whole;
  return whole;
}

std::string CurrencyText(int64_t value) {
  bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value)
                                : static_cast<uint64_t>(value);
  std::string text = std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04llu",
                  static_cast<unsigned long long>(fraction));
    std::string tail(digits);
    while (tail.back() == '0') tail.pop_back();
    text += "." + tail;
  }
  return negative ? "-" + text : text;
}

std::string DoubleText(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return buffer;
}

}  // namespace

bool Variant::IsNumeric() const {
  return Is<bool>() || Is<int16_t>() || Is<int32_t>() || Is<Currency>() ||
         Is<double>() || Is<Empty>();
}

std::string Variant::ToText() const {
  struct Visitor {
    std::string operator()(const Empty&) { return {}; }
    std::string operator()(const Missing&) { ThrowMismatch(); }
    std::string operator()(bool v) { return v ? "True" : "False"; }
    std::string operator()(int16_t v) { return std::to_string(v); }
    std::string operator()(int32_t v) { return std::to_string(v); }
    std::string operator()(Currency v) { return CurrencyText(v.value); }
    std::string operator()(double v) { return DoubleText(v); }
    std::string operator()(const std::string& v) { return v; }
    std::string operator()(const Bytes& v) { return v.data; }
    std::string operator()(const Object&) { ThrowMismatch(); }
  };
  return std::visit(Visitor{}, value_);
}

std::string Variant::TakeText() {
  if (auto* text = std::get_if<std::string>(&value_)) return std::move(*text);
  if (auto* bytes = std::get_if<Bytes>(&value_)) return std::move(bytes->data);
  return ToText();
}

double Variant::ToDouble() const {
  struct Visitor {
    double operator()(const Empty&) { return 0; }
    double operator()(const Missing&) { ThrowMismatch(); }
    double operator()(bool v) { return v ? -1 : 0; }
    double operator()(int16_t v) { return v; }
    double operator()(int32_t v) { return v; }
    double operator()(Currency v) {
      return static_cast<double>(v.value) / 10000.0;
    }
    double operator()(double v) { return v; }
    double operator()(const std::string& v) { return ParseNumber(v); }
    double operator()(const Bytes&) { ThrowMismatch(); }
    double operator()(const Object&) { ThrowMismatch(); }
  };
  return std::visit(Visitor{}, value_);
}

int32_t Variant::ToInt32() const {
  if (auto* v = std::get_if<int32_t>(&value_)) return *v;
  if (auto* v = std::get_if<int16_t>(&value_)) return *v;
  if (auto* v = std::get_if<Currency>(&value_)) {
    int64_t whole = RoundCurrencyToInteger(v->value);
    if (whole < INT32_MIN || whole > INT32_MAX) ThrowOverflow();
    return static_cast<int32_t>(whole);
  }
  return RoundToInteger<int32_t>(ToDouble());
}

int16_t Variant::ToInt16() const {
  if (auto* v = std::get_if<int16_t>(&value_)) return *v;
  int32_t wide = ToInt32();
  if (wide < INT16_MIN || wide > INT16_MAX) ThrowOverflow();
  return static_cast<int16_t>(wide);
}

Currency Variant::ToCurrency() const {
  if (auto* v = std::get_if<Currency>(&value_)) return *v;
  if (auto* v = std::get_if<int32_t>(&value_)) return {int64_t{*v} * 10000};
  if (auto* v = std::get_if<int16_t>(&value_)) return {int64_t{*v} * 10000};
  double scaled = ToDouble() * 10000.0;
  if (!(scaled > -9.2233720368547758e18 && scaled < 9.2233720368547758e18)) {
    ThrowOverflow();
  }
  return {static_cast<int64_t>(std::nearbyint(scaled))};
}

bool Variant::ToBool() const {
  if (auto* v = std::get_if<bool>(&value_)) return *v;
  if (auto* v = std::get_if<std::string>(&value_)) {
    std::string_view text = TrimBlanks(*v);
    if (EqualsIgnoringCase(text, "true")) return true;
    if (EqualsIgnoringCase(text, "false")) return false;
    return ParseNumber(text) != 0;
  }
  if (auto* v = std::get_if<Currency>(&value_)) return v->value != 0;
  return ToDouble() != 0;
}

Bytes Variant::ToBytes() const {
  if (auto* v = std::get_if<Bytes>(&value_)) return *v;
  if (auto* v = std::get_if<std::string>(&value_)) return Bytes{*v};
  if (IsEmpty()) return {};
  ThrowMismatch();
}

Variant::Object Variant::ToObject() const {
  if (auto* v = std::get_if<Object>(&value_)) return *v;
  if (IsEmpty()) return nullptr;
  ThrowMismatch();
}

std::string Variant::TypeName() const {
  static const char* const kNames[] = {
      "Empty",    "Error",  "Boolean", "Integer", "Long",
      "Currency", "Double", "String",  "Byte()",  "Object"};
  return kNames[value_.index()];
}

}  // namespace corvane
