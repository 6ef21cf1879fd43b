// SPDX-License-Identifier: Apache-2.0
#include "tools/corvane/JsonValues.h"

#include <cstdint>

#include "frame/Dispatch.h"
#include "tools/corvane/TextCodec.h"

namespace corvane::tool {
namespace {

std::string DecodedField(const Json& value, const char* field) {
  const Json& text = value.at(field);
  if (!text.is_string()) {
    throw MalformedLine(std::string(field) + " must be a string");
  }
  auto bytes = DecodeBase64(text.get<std::string>());
  if (!bytes) throw MalformedLine(std::string(field) + " is not Base64");
  return *bytes;
}

Variant NumberFromJson(const Json& value) {
  if (value.is_number_integer()) {
    int64_t number = value.is_number_unsigned()
                         ? static_cast<int64_t>(std::min<uint64_t>(
                               value.get<uint64_t>(), INT64_MAX))
                         : value.get<int64_t>();
    if (number >= INT32_MIN && number <= INT32_MAX) {
      return static_cast<int32_t>(number);
    }
    return static_cast<double>(number);
  }
  return value.get<double>();
}

}  // namespace

Variant VariantFromJson(const Json& value, const ReferenceLookup& lookup) {
  if (value.is_null()) return Variant();
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return NumberFromJson(value);
  if (value.is_string()) return value.get<std::string>();
  if (value.is_object() && value.size() == 1) {
    if (value.contains("bytes_base64")) {
      return Bytes{DecodedField(value, "bytes_base64")};
    }
    if (value.contains("text_base64")) {
      return DecodedField(value, "text_base64");
    }
    if (value.contains("ref") && value["ref"].is_string()) {
      return lookup(value["ref"].get<std::string>());
    }
  }
  throw MalformedLine("unsupported value " + value.dump());
}

Json JsonFromVariant(const Variant& value) {
  struct Visitor {
    Json operator()(const Empty&) { return nullptr; }
    Json operator()(const Missing&) { return nullptr; }
    Json operator()(bool v) { return v; }
    Json operator()(int16_t v) { return v; }
    Json operator()(int32_t v) { return v; }
    Json operator()(Currency v) {
      return static_cast<double>(v.value) / 10000.0;
    }
    Json operator()(double v) { return v; }
    Json operator()(const std::string& v) {
      if (IsValidUtf8(v)) return v;
      return Json{{"text_base64", EncodeBase64(v)}};
    }
    Json operator()(const Bytes& v) {
      return Json{{"bytes_base64", EncodeBase64(v.data)}};
    }
    Json operator()(const Variant::Object& v) {
      if (!v) return nullptr;
      return Json{{"object", v->Class().name()}};
    }
  };
  return std::visit(Visitor{}, value.value());
}

}  // namespace corvane::tool
