// SPDX-License-Identifier: Apache-2.0
// The last-error triple every component keeps: number, source and
// description of its last recorded failure, and beside them the system's
// text of that failure (which the component's getters never return).
// Nothing clears it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Export.h"
#include "platform/Failure.h"

namespace corvane {

struct CORVANE_API ErrorTriple {
  int32_t number = 0;
  std::string source;
  std::string description;
  std::string system_text;

  // Copies the failure being handled into the triple.
  void Save(const Failure& failure) {
    number = failure.number;
    source = failure.source;
    description = failure.description;
    system_text = failure.system_text;
  }
};

}  // namespace corvane
