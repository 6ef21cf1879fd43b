// SPDX-License-Identifier: Apache-2.0
#include "upload/GetHeaderParam.h"

#include <array>

#include "frame/Text.h"
#include "platform/Failure.h"

namespace corvane::cargane {
namespace {

constexpr std::string_view kBlanks = " \t";

// What ends an item: ";", CR, LF, and "=" where a parameter name ends.
enum : unsigned char { kEndsValue = 1, kEndsName = 2 };

constexpr std::array<unsigned char, 256> kItemEnds = [] {
  std::array<unsigned char, 256> ends{};
  for (unsigned char c : {';', '\r', '\n'}) ends[c] = kEndsValue | kEndsName;
  ends['='] = kEndsName;
  return ends;
}();

// The first position from `from` holding one of ";", CR, LF, or "=" when
// `stop_at_equals`; the text's size when there is none.
size_t ItemEnd(std::string_view text, size_t from, bool stop_at_equals) {
  const unsigned char wanted = stop_at_equals ? kEndsName : kEndsValue;
  for (; from < text.size(); ++from) {
    if (kItemEnds[static_cast<unsigned char>(text[from])] & wanted) return from;
  }
  return text.size();
}

// Walks a header text item by item: an item is the text up to the next ";"
// or line end, and it is a parameter when it has an "=". Quoted values are
// read whole, so a ";" or "=" inside quotes never starts another item.
class ParameterReader {
 public:
  explicit ParameterReader(std::string_view text) : text_(text) {}

  enum class Step { kParameter, kEnd, kUnclosedQuote };

  // Moves to the next parameter; kEnd at the end of the text, and
  // kUnclosedQuote at a quoted value without its closing quote.
  Step Next() {
    while (position_ < text_.size()) {
      size_t end = ItemEnd(text_, position_, true);
      if (end == text_.size()) return Step::kEnd;
      if (text_[end] != '=') {
        position_ = end + 1;
        continue;
      }
      name_ = TrimOf(text_.substr(position_, end - position_), kBlanks);
      return ReadValue(end + 1) ? Step::kParameter : Step::kUnclosedQuote;
    }
    return Step::kEnd;
  }
  std::string_view name() const { return name_; }
  std::string_view value() const { return value_; }

 private:
  // False when a quoted value has no closing quote.
  bool ReadValue(size_t from) {
    size_t start = text_.find_first_not_of(kBlanks, from);
    if (start != std::string_view::npos && text_[start] == '"') {
      size_t close = text_.find('"', start + 1);
      if (close == std::string_view::npos) return false;
      value_ = text_.substr(start + 1, close - start - 1);
      position_ = close + 1;
      return true;
    }
    size_t end = ItemEnd(text_, from, false);
    value_ = TrimOf(text_.substr(from, end - from), kBlanks);
    position_ = end;
    return true;
  }

  std::string_view text_;
  size_t position_ = 0;
  std::string_view name_;
  std::string_view value_;
};

}  // namespace

bool FindHeaderParams(std::string_view header,
                      std::span<const std::string_view> names,
                      std::span<std::optional<std::string_view>> values) {
  ParameterReader reader(header);
  size_t missing = names.size();
  while (missing > 0) {
    switch (reader.Next()) {
      case ParameterReader::Step::kEnd:
        return true;
      case ParameterReader::Step::kUnclosedQuote:
        return false;
      case ParameterReader::Step::kParameter:
        break;
    }
    for (size_t i = 0; i < names.size(); ++i) {
      if (!values[i] && EqualsIgnoringCase(reader.name(), names[i])) {
        values[i] = reader.value();
        --missing;
      }
    }
  }
  return true;
}

std::optional<std::string> FindHeaderParam(std::string_view header,
                                           std::string_view name) {
  std::optional<std::string_view> value;
  if (!FindHeaderParams(header, {&name, 1}, {&value, 1}) && !value) {
    throw StandardFailure(kInvalidCall);
  }
  if (!value) return std::nullopt;
  return std::string(*value);
}

std::string GetHeaderParam(std::string_view header, std::string_view name) {
  return FindHeaderParam(header, name).value_or(std::string());
}

}  // namespace corvane::cargane
