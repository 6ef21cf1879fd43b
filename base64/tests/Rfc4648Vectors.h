// SPDX-License-Identifier: Apache-2.0
// The test vectors of RFC 4648, section 10, shared by the encoder tests and
// the tests of the library's exports.
#pragma once

#include <string>
#include <utility>

namespace corvane::tallowin::testing {

inline const std::pair<std::string, std::string> kRfc4648Vectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"}};

}  // namespace corvane::tallowin::testing
