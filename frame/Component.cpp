// SPDX-License-Identifier: Apache-2.0
#include "frame/Component.h"

namespace corvane {

void Component::OnStartPage(const Variant& theScriptingContext) {
  try {
    page_ = ContextFrom(theScriptingContext);
  } catch (...) {
    // Anything but a scripting context leaves the component without a page,
    // as when it is created outside one.
  }
}

void Component::OnEndPage() { page_.reset(); }

std::string LastSystemText(const Dispatch& object) {
  const auto* component = dynamic_cast<const Component*>(&object);
  return component == nullptr ? std::string() : component->LastSystemText();
}

void Component::WriteToPage(std::string_view text) const {
  corvane::WriteToPage(page_, text);
}

}  // namespace corvane
