// SPDX-License-Identifier: Apache-2.0
// One attachment of a mail message: its MIME header lines, chosen from the
// file name's extension, and its content, read from the file and
// Base64-encoded for the types that need it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "frame/Dispatch.h"
#include "mail/MessageSink.h"
#include "platform/FileSystem.h"

namespace corvane::penrill {

class clsMIMEObj : public DispatchClass<clsMIMEObj> {
 public:
  static ClassInfo Members();

  // Stores the path, classifies the file by its extension and takes the
  // part's name from it. Never fails.
  void ContentPath(std::string_view path);
  // The part's header lines, CR LF between them and none after the last.
  // A name with 8-bit bytes, '"', '\' or a control character is written
  // as an extended (RFC 2231) filename* parameter, with a plain fallback as
  // the Content-Type's name. Never fails.
  std::string MIMEObjHeader() const;
  // The part's content: the file's bytes, Base64 lines for "base64". Reads
  // the file on every call and adapts the encoding to it (ContentFits);
  // throws Failure when the file cannot be read (53, 75, ...) or Tallowin
  // cannot be loaded (53, 453).
  std::string MimeContent();

  // The file's bytes; throws as MimeContent does.
  std::string ReadContent() const;
  // Makes the declared encoding fit the content: a "7bit" part whose bytes
  // are not all 7-bit, or that holds the message's boundary, goes out in
  // Base64 (a text part of UTF-8 text is then declared charset utf-8).
  // Never fails.
  void ContentFits(std::string_view bytes);
  // Writes `bytes` as the transfer encoding writes them; throws as
  // MimeContent does and what the sink throws.
  void WriteEncoded(std::string_view bytes, MessageSink& sink) const;
  // Writes what MimeContent returns; throws as MimeContent does and what
  // the sink throws (the sink may then hold part of the content).
  void WriteMimeContent(MessageSink& sink);
  // Writes the whole part: the header lines, a blank line and the content.
  // A Base64 part is read and encoded a piece at a time, so that the file
  // is never held whole; any other part is read whole first, for
  // ContentFits to settle the encoding its header names. Throws as
  // WriteMimeContent does; a file that cannot be opened fails before
  // anything is written.
  void WritePart(MessageSink& sink);
  // The length MimeContent will have if the file keeps its present size;
  // 0 when the file is missing. For reserving space; never fails.
  uint64_t ExpectedContentLength() const;

  // Makes the part an inline image of an HTML body, named there by
  // "cid:" and `cid`: a Content-ID line and the inline disposition (PNG as
  // image/png, the type mail readers show inline). Never fails.
  void ContentId(std::string_view cid);

  // The part's classification, as ContentPath set it. Never fail.
  const std::string& ContentType() const { return content_type_; }
  const std::string& TransferEncoding() const { return transfer_encoding_; }
  const std::string& Disposition() const { return disposition_; }

 private:
  void SetContentType();
  // WriteMimeContent, after the header lines when `with_header`.
  void WriteContent(MessageSink& sink, bool with_header);
  // Reads the file a piece at a time and writes its Base64 text: at most
  // `length` bytes (fewer when it shrank meanwhile), as ReadContent does.
  void StreamBase64(platform::FileReader& reader, uint64_t length,
                    MessageSink& sink) const;

  std::string content_type_ = "text/plain";
  std::string name_;
  std::string file_name_;
  std::string transfer_encoding_ = "7bit";
  std::string disposition_;
  std::string charset_ = "us-ascii";
  std::string content_path_;
  std::string content_id_;
};

}  // namespace corvane::penrill
