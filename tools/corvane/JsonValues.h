// SPDX-License-Identifier: Apache-2.0
// Conversions between the script host's JSON values and Variants.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "frame/Variant.h"

namespace corvane::tool {

using Json = nlohmann::ordered_json;

// A line of a page script that does not follow the script format.
class MalformedLine : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Resolves {"ref": NAME} to the value held under NAME; throws Failure 424
// when nothing is held there.
using ReferenceLookup = std::function<Variant(const std::string& name)>;

// A JSON value as a Variant: text, 32-bit integer (a double beyond that
// range), Boolean, empty, {"bytes_base64"}, {"text_base64"}, {"ref"}.
// Throws MalformedLine for anything else.
Variant VariantFromJson(const Json& value, const ReferenceLookup& lookup);

// A Variant as a JSON value; text that is not UTF-8 becomes
// {"text_base64"}, an object {"object": CLASS}.
Json JsonFromVariant(const Variant& value);

}  // namespace corvane::tool
