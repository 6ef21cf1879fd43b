// SPDX-License-Identifier: Apache-2.0
// The base of every public class: the page context and its binding, the
// last-error triple with its getters, WriteToPage, and the failure boundary
// that each public member runs its work inside.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "frame/Dispatch.h"
#include "frame/ErrorTriple.h"
#include "frame/Host.h"
#include "platform/Export.h"

namespace corvane {

class CORVANE_API Component : public Dispatch {
 public:
  // The last recorded failure: 0 and empty texts before the first. Nothing
  // clears it. Never fail.
  int32_t GetLastErrNum() const { return last_error_.number; }
  std::string GetLastErrSource() const { return last_error_.source; }
  std::string GetLastErrDescription() const { return last_error_.description; }
  // The system's text of the last recorded failure ("Permission denied"),
  // for the console and the command line: empty before the first failure
  // and for one that the system did not report. No member of the
  // component's interface returns it. Never fails.
  std::string LastSystemText() const { return last_error_.system_text; }

  // Keeps the page's context, replacing an earlier one; a value that is no
  // context is ignored. Never fails.
  virtual void OnStartPage(const Variant& theScriptingContext);
  // Drops the page's context. Never fails.
  virtual void OnEndPage();

 protected:
  // `source` is the text recorded with failures that arrive without one.
  explicit Component(std::string_view source) : source_(source) {}

  const std::shared_ptr<ScriptingContext>& page() const { return page_; }
  // Holds `context`, or nothing; used by components whose binding is strict.
  void HoldPage(std::shared_ptr<ScriptingContext> context) {
    page_ = std::move(context);
  }

  void SaveLastError(const Failure& failure) { last_error_.Save(failure); }
  // Writes the text (HTML-escaped) and "<br>" to the bound page; nothing
  // without one.
  void WriteToPage(std::string_view text) const;

  // Runs `body` and returns its result. Any failure inside it (a Failure,
  // std::bad_alloc, any exception) is recorded with SaveLastError and
  // handed to `on_failure`, whose result is then returned: it releases what
  // the member opened and chooses the failure value.
  template <class Body, class OnFailure>
  requires std::is_invocable_v<OnFailure, const Failure&>
  auto Guarded(Body&& body, OnFailure&& on_failure) -> decltype(body()) {
    try {
      return body();
    } catch (...) {
      Failure failure = CurrentFailure(source_);
      SaveLastError(failure);
      return on_failure(failure);
    }
  }

  // The same with a fixed failure value and nothing to release.
  template <class R, class Body>
  requires std::is_invocable_r_v<R, Body> R Guarded(R failure_value,
                                                    Body&& body) {
    return Guarded(std::forward<Body>(body),
                   [&](const Failure&) { return failure_value; });
  }

 private:
  std::string source_;
  std::shared_ptr<ScriptingContext> page_;
  ErrorTriple last_error_;
};

// The system's text of the last failure that `object` recorded; empty when
// it is no component or the failure has none. Never fails.
CORVANE_API std::string LastSystemText(const Dispatch& object);

// The base of component class T: Class() gives the member table that T's
// static Members() function builds, once.
template <class T>
class ComponentClass : public Component {
 public:
  const ClassInfo& Class() const override {
    static const ClassInfo info = T::Members();
    return info;
  }

 protected:
  using Component::Component;
};

}  // namespace corvane
