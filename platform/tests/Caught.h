// SPDX-License-Identifier: Apache-2.0
// Test helper: the Failure that a call throws, for asserting its fields.
#pragma once

#include <optional>
#include <string>

#include "platform/Failure.h"

namespace corvane {

// The Failure `call` throws; nullopt when it returns normally.
template <class Call>
std::optional<Failure> CaughtFailure(Call call) {
  try {
    call();
  } catch (const Failure& failure) {
    return failure;
  }
  return std::nullopt;
}

// The number of the Failure `call` throws; 0 when it returns normally.
template <class Call>
int32_t FailureNumber(Call call) {
  auto failure = CaughtFailure(call);
  return failure ? failure->number : 0;
}

// The description of the Failure `call` throws; empty when it returns
// normally.
template <class Call>
std::string FailureDescription(Call call) {
  auto failure = CaughtFailure(call);
  return failure ? failure->description : std::string();
}

}  // namespace corvane
