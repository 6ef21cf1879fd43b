// SPDX-License-Identifier: Apache-2.0
// Where a composed message goes, piece by piece: into a string (GetMailBody)
// or straight onto the connection after DATA, so that a large attachment is
// never held whole as text.
#pragma once

#include <string>
#include <string_view>

namespace corvane::penrill {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // The next piece of the message as composed. May throw what the
  // destination raises (a failed send).
  virtual void Append(std::string_view text) = 0;
  // The next piece when it is Tallowin's Base64 text or the CR LF between
  // two runs of it: no other line breaks and no ".", so a sink that
  // rewrites line starts may take it as it stands. Throws as Append does.
  virtual void AppendBase64Lines(std::string_view text) { Append(text); }
};

// Appends every piece to a string. Never fails but for memory.
class StringSink final : public MessageSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void Append(std::string_view text) override { out_ += text; }

 private:
  std::string& out_;
};

}  // namespace corvane::penrill
