// SPDX-License-Identifier: Apache-2.0
#include "mail/clsMIMEObj.h"

#include <algorithm>
#include <array>
#include <optional>

#include "frame/Text.h"
#include "mail/HeaderText.h"
#include "mail/Tallowin.h"
#include "mail/modGlobal.h"
#include "platform/FileSystem.h"

namespace corvane::penrill {
namespace {

struct PartType {
  std::string_view extensions;  // separated by single spaces
  std::string_view content_type;
  std::string_view encoding;
  std::string_view disposition;
};

// Searched top to bottom; the last row stands for every other extension.
constexpr std::array kPartTypes = {
    PartType{"zip", "application/x-zip-compressed", "base64", "attachment"},
    PartType{"gif", "image/gif", "base64", "attachment"},
    PartType{"jpeg jpg jpe jfif pjpeg pjp", "image/jpeg", "base64",
             "attachment"},
    PartType{"png", "image/x-png", "base64", "attachment"},
    PartType{"tiff tif", "image/tiff", "base64", "attachment"},
    PartType{"doc", "application/msword", "base64", "attachment"},
    PartType{"exe bin dll com", "application/octet-stream", "base64",
             "attachment"},
    PartType{"txt text", "text/plain", "7bit", "inline"},
    PartType{"html htm", "text/html", "7bit", "inline"},
    PartType{"xml", "text/xml", "7bit", "inline"},
    PartType{"rtf", "application/rtf", "base64", "attachment"},
    PartType{"pdf", "application/pdf", "base64", "attachment"},
    PartType{"au snd", "audio/basic", "base64", "attachment"},
    PartType{"wav", "audio/x-wav", "base64", "attachment"},
    PartType{"mp2 mpa abs mpega", "audio/x-mpeg", "base64", "attachment"},
    PartType{"aif aiff aifc", "audio/x-aiff", "base64", "attachment"},
    PartType{"ra ram", "audio/x-pn-realaudio", "base64", "attachment"},
    PartType{"avi", "video/x-msvideo", "base64", "attachment"},
    PartType{"mpeg mpg mpe mpv vbs mpegv", "video/mpeg", "base64",
             "attachment"},
    PartType{"pl", "application/x-perl", "7bit", "attachment"},
    PartType{"uu uue", "application/x-uuencode", "7bit", "attachment"},
    PartType{"js mocha", "application/x-javascript", "7bit", "inline"},
    PartType{"", "application/octet-stream", "base64", "attachment"},
};

bool ListHolds(std::string_view list, std::string_view extension) {
  while (!list.empty()) {
    size_t space = list.find(' ');
    if (list.substr(0, space) == extension) return true;
    if (space == std::string_view::npos) break;
    list.remove_prefix(space + 1);
  }
  return false;
}

const PartType& PartTypeOf(std::string_view extension) {
  for (const PartType& row : kPartTypes) {
    if (ListHolds(row.extensions, extension)) return row;
  }
  return kPartTypes.back();
}

// Appends the whole file: its length first, then one read of that many
// bytes straight into `out` (fewer if the file shrank meanwhile).
void AppendFileBytes(const std::string& path, std::string& out) {
  platform::FileSystem& files = platform::Files();
  auto reader = files.OpenReader(path);
  auto info = files.Stat(path);
  size_t length = info ? static_cast<size_t>(info->size) : 0;
  size_t start = out.size();
  out.resize(start + length);
  size_t got = 0;
  while (got < length) {
    size_t read = reader->Read(out.data() + start + got, length - got);
    if (read == 0) break;
    got += read;
  }
  out.resize(start + got);
}

// Runs `step`, naming Penrill as the source of a failure that names none
// (the file system's failures).
template <typename Step>
void AsPenrill(Step&& step) {
  try {
    step();
  } catch (Failure& failure) {
    if (failure.source.empty()) failure.source = kPenrillSource;
    throw;
  }
}

}  // namespace

ClassInfo clsMIMEObj::Members() {
  using T = clsMIMEObj;
  return ClassBuilder<T>("clsMIMEObj")
      .Let("ContentPath", [](T& o, std::string_view v) { o.ContentPath(v); })
      .Get("MIMEObjHeader", [](T& o) { return o.MIMEObjHeader(); })
      .Get("MimeContent", [](T& o) { return o.MimeContent(); })
      .Build();
}

void clsMIMEObj::ContentPath(std::string_view path) {
  content_path_ = path;
  SetContentType();
  file_name_ = GetFileName(path);
  name_ = file_name_;
}

void clsMIMEObj::SetContentType() {
  const PartType& type = PartTypeOf(LowerCase(GetPathExtension(content_path_)));
  content_type_ = type.content_type;
  transfer_encoding_ = type.encoding;
  if (disposition_.empty()) disposition_ = type.disposition;
}

void clsMIMEObj::ContentId(std::string_view cid) {
  content_id_ = cid;
  disposition_ = "inline";
  if (content_type_ == "image/x-png") content_type_ = "image/png";
}

std::string clsMIMEObj::MIMEObjHeader() const {
  const bool extended = NeedsExtendedParameter(file_name_);
  std::string header = "Content-Type: " + content_type_;
  if (content_type_.compare(0, 4, "text") == 0)
    header += "; charset=" + charset_;
  if (!name_.empty()) header += "; name=\"" + AsciiFallback(name_) + "\"";
  header += "\r\nContent-Transfer-Encoding: " + transfer_encoding_;
  if (!content_id_.empty()) header += "\r\nContent-ID: <" + content_id_ + ">";
  if (!file_name_.empty()) {
    // A name that cannot stand between quotes as it is (8-bit bytes, a
    // quote, a backslash, a control character) goes in the extended
    // parameter alone, percent-encoded, so that it can neither end the
    // quoted string nor add parameters of its own (a reader that sees two
    // filename parameters may take either); the plain fallback stands in
    // the Content-Type's name.
    header += "\r\nContent-Disposition: " + disposition_ + ";";
    header += extended
                  ? "\r\n " + ExtendedParameter("filename", file_name_, "utf-8")
                  : " filename=\"" + file_name_ + "\"";
  }
  return header;
}

std::string clsMIMEObj::MimeContent() {
  std::string content;
  StringSink sink(content);
  WriteMimeContent(sink);
  return content;
}

std::string clsMIMEObj::ReadContent() const {
  std::string bytes;
  AsPenrill([&] { AppendFileBytes(content_path_, bytes); });
  return bytes;
}

void clsMIMEObj::ContentFits(std::string_view bytes) {
  if (transfer_encoding_ != "7bit") return;
  const bool eight_bit = HasEightBit(bytes);
  if (!eight_bit && !Contains(bytes, kBoundary)) return;
  transfer_encoding_ = "base64";
  if (eight_bit && content_type_.compare(0, 4, "text") == 0 && IsUtf8(bytes)) {
    charset_ = "utf-8";
  }
}

void clsMIMEObj::WriteEncoded(std::string_view bytes, MessageSink& sink) const {
  AsPenrill([&] {
    if (transfer_encoding_ == "7bit") {
      sink.Append(bytes);
    } else if (transfer_encoding_ == "base64") {
      WriteBase64(bytes, sink);
    }
  });
}

void clsMIMEObj::StreamBase64(platform::FileReader& reader, uint64_t length,
                              MessageSink& sink) const {
  Base64Writer writer(sink);
  // One buffer for the whole file, filled a piece at a time.
  std::string piece(std::min<uint64_t>(length, Base64Writer::kPieceSize), '\0');
  while (length > 0) {
    size_t want = std::min<uint64_t>(length, piece.size());
    size_t got = 0;
    while (got < want) {
      size_t read = reader.Read(piece.data() + got, want - got);
      if (read == 0) break;
      got += read;
    }
    writer.Write(std::string_view(piece.data(), got));
    if (got < want) break;  // the file shrank: what was there is the content
    length -= got;
  }
}

void clsMIMEObj::WriteMimeContent(MessageSink& sink) {
  WriteContent(sink, false);
}

void clsMIMEObj::WritePart(MessageSink& sink) { WriteContent(sink, true); }

void clsMIMEObj::WriteContent(MessageSink& sink, bool with_header) {
  auto write_header = [&] {
    if (!with_header) return;
    sink.Append(MIMEObjHeader());
    sink.Append("\r\n\r\n");
  };
  if (transfer_encoding_ != "base64") {
    std::string bytes = ReadContent();
    ContentFits(bytes);
    write_header();
    WriteEncoded(bytes, sink);
    return;
  }
  AsPenrill([&] {
    platform::FileSystem& files = platform::Files();
    auto reader = files.OpenReader(content_path_);
    auto info = files.Stat(content_path_);
    uint64_t length = info ? info->size : 0;
    CheckBase64Count(length);
    write_header();
    StreamBase64(*reader, length, sink);
  });
}

uint64_t clsMIMEObj::ExpectedContentLength() const {
  std::optional<platform::FileInfo> info;
  try {
    info = platform::Files().Stat(content_path_);
  } catch (...) {
    return 0;  // only an estimate; MimeContent reports the fault
  }
  if (!info) return 0;
  if (transfer_encoding_ == "7bit") return info->size;
  if (transfer_encoding_ == "base64") {
    return static_cast<uint64_t>(
        GetEncodedLength(static_cast<int64_t>(info->size)));
  }
  return 0;
}

}  // namespace corvane::penrill
