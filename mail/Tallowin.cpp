// SPDX-License-Identifier: Apache-2.0
#include "mail/Tallowin.h"

#include <cstdint>
#include <limits>

#include "mail/modGlobal.h"

namespace corvane::penrill {

tallowin::Binding& Tallowin() {
  // The folder of the library (or program) that holds the mail code.
  static tallowin::Binding binding(
      platform::DirectoryOf(
          platform::ModulePath(reinterpret_cast<const void*>(&Tallowin))),
      tallowin::kLibraryFileName, kPenrillSource);
  return binding;
}

void CheckBase64Count(uint64_t count) {
  if (count > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    throw Failure(kOverflow, std::string(kPenrillSource),
                  StandardErrorText(kOverflow));
  }
}

void AppendBase64(std::string_view bytes, std::string& out) {
  CheckBase64Count(bytes.size());
  auto encode = Tallowin().Base64Encode();
  auto count = static_cast<int32_t>(bytes.size());
  size_t start = out.size();
  out.resize(start + static_cast<size_t>(GetEncodedLength(count)));
  encode(reinterpret_cast<const unsigned char*>(bytes.data()), count,
         out.data() + start);
}

Base64Writer::Base64Writer(MessageSink& sink)
    : sink_(sink),
      encode_(Tallowin().Base64Encode()),
      // Sized once for a whole piece; each piece is encoded into it.
      text_(static_cast<size_t>(GetEncodedLength(kPieceSize)), '\0') {}

void Base64Writer::Write(std::string_view piece) {
  if (piece.empty()) return;
  // A piece of whole lines ends without a line break; the break between
  // it and the next is the one the whole run's text has there.
  if (started_) sink_.AppendBase64Lines("\r\n");
  started_ = true;
  auto count = static_cast<int32_t>(piece.size());
  encode_(reinterpret_cast<const unsigned char*>(piece.data()), count,
          text_.data());
  sink_.AppendBase64Lines(std::string_view(
      text_.data(), static_cast<size_t>(GetEncodedLength(count))));
}

void WriteBase64(std::string_view bytes, MessageSink& sink) {
  CheckBase64Count(bytes.size());
  Base64Writer writer(sink);
  for (size_t at = 0; at < bytes.size(); at += Base64Writer::kPieceSize) {
    writer.Write(bytes.substr(at, Base64Writer::kPieceSize));
  }
}

}  // namespace corvane::penrill
