// SPDX-License-Identifier: Apache-2.0
#include "mail/Dkim.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "frame/Text.h"
#include "mail/modGlobal.h"
#include "platform/Failure.h"

namespace corvane::penrill {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Base64 on one line (the signature's tags carry it unbroken; the line is
// folded afterwards).
std::string Base64(const unsigned char* bytes, size_t length) {
  std::string text(4 * ((length + 2) / 3) + 1, '\0');
  int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                bytes, static_cast<int>(length));
  text.resize(static_cast<size_t>(written));
  return text;
}

std::string Sha256(std::string_view data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(),
         digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

// The header fields of a message, each with its folded continuation lines
// and without its line end.
std::vector<std::string_view> HeaderFields(std::string_view header) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start < header.size()) {
    size_t end = start;
    for (;;) {
      end = header.find("\r\n", end);
      if (end == std::string_view::npos) {
        end = header.size();
        break;
      }
      if (end + 2 < header.size() && IsBlank(header[end + 2])) {
        end += 2;
        continue;
      }
      break;
    }
    fields.push_back(header.substr(start, end - start));
    start = end + 2;
  }
  return fields;
}

std::string FieldName(std::string_view field) {
  return LowerCase(TrimSpaces(field.substr(0, field.find(':'))));
}

// Appends `text` to a header line after a blank (or, with `joined`, right
// after the text before), breaking the line before it when the line would
// pass 78 characters.
void AppendFolded(std::string& line, size_t& column, std::string_view text,
                  bool joined = false) {
  const size_t gap = joined ? 0 : 1;
  if (column + gap + text.size() > 78 && column > 1) {
    line += "\r\n ";
    column = 1;
  } else if (!joined) {
    line += ' ';
    ++column;
  }
  line += text;
  column += text.size();
}

}  // namespace

struct DkimSigner::Key {
  EVP_PKEY* pkey = nullptr;
  bool ed25519 = false;
  ~Key() { EVP_PKEY_free(pkey); }
};

DkimSigner::DkimSigner(std::string domain, std::string selector,
                       std::string_view pem)
    : domain_(std::move(domain)),
      selector_(std::move(selector)),
      key_(std::make_unique<Key>()) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bio != nullptr) {
    key_->pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
  }
  const int type = key_->pkey ? EVP_PKEY_base_id(key_->pkey) : EVP_PKEY_NONE;
  if (type != EVP_PKEY_RSA && type != EVP_PKEY_ED25519) {
    throw Failure(kInvalidFileFormat, std::string(kPenrillSource),
                  "not a PEM RSA or Ed25519 private key");
  }
  key_->ed25519 = type == EVP_PKEY_ED25519;
}

DkimSigner::~DkimSigner() = default;

std::string_view DkimSigner::Algorithm() const {
  return key_->ed25519 ? "ed25519-sha256" : "rsa-sha256";
}

std::string DkimSigner::Sign(std::string_view message,
                             int64_t unix_seconds) const {
  // Most messages already end their lines in CR LF; only the others are
  // copied to be rewritten.
  std::string rewritten;
  std::string_view text = message;
  if (FirstBareLineEnd(message) != std::string_view::npos) {
    rewritten = CrLfLines(std::string(message));
    text = rewritten;
  }
  size_t split = text.find("\r\n\r\n");
  std::string_view header =
      text.substr(0, split == std::string::npos ? text.size() : split);
  std::string_view body =
      split == std::string::npos ? std::string_view() : text.substr(split + 4);
  std::string body_hash = RelaxedBodySha256(body);

  // Every field is signed; a name that comes twice is listed twice, and
  // the verifier takes its instances from the bottom up.
  std::vector<std::string_view> fields = HeaderFields(header);
  std::vector<std::string> names;
  std::string hashed;
  for (const auto& field : fields) names.push_back(FieldName(field));
  std::vector<bool> used(fields.size(), false);
  for (const std::string& name : names) {
    for (size_t i = fields.size(); i-- > 0;) {
      if (!used[i] && names[i] == name) {
        used[i] = true;
        hashed += RelaxedHeader(fields[i]);
        break;
      }
    }
  }

  std::string line = "DKIM-Signature:";
  size_t column = line.size();
  auto tag = [&](std::string_view value) { AppendFolded(line, column, value); };
  tag("v=1;");
  tag("a=" + std::string(Algorithm()) + ";");
  tag("c=relaxed/relaxed;");
  tag("d=" + domain_ + ";");
  tag("s=" + selector_ + ";");
  tag("t=" + std::to_string(unix_seconds) + ";");
  for (size_t i = 0; i < names.size(); ++i) {
    AppendFolded(
        line, column,
        (i == 0 ? "h=" : "") + names[i] + (i + 1 < names.size() ? ":" : ";"),
        i > 0);
  }
  tag("bh=" +
      Base64(reinterpret_cast<const unsigned char*>(body_hash.data()),
             body_hash.size()) +
      ";");
  tag("b=");
  hashed += RelaxedHeader(line);
  hashed.resize(hashed.size() - 2);  // the signature's own line end is not

  std::string data = key_->ed25519 ? Sha256(hashed) : hashed;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  size_t length = 0;
  std::string signature;
  bool signed_ok =
      context != nullptr &&
      EVP_DigestSignInit(context, nullptr,
                         key_->ed25519 ? nullptr : EVP_sha256(), nullptr,
                         key_->pkey) == 1 &&
      EVP_DigestSign(context, nullptr, &length,
                     reinterpret_cast<const unsigned char*>(data.data()),
                     data.size()) == 1;
  if (signed_ok) {
    signature.resize(length);
    signed_ok =
        EVP_DigestSign(
            context, reinterpret_cast<unsigned char*>(signature.data()),
            &length, reinterpret_cast<const unsigned char*>(data.data()),
            data.size()) == 1;
    signature.resize(length);
  }
  EVP_MD_CTX_free(context);
  if (!signed_ok) {
    throw Failure(kInvalidCall, std::string(kPenrillSource),
                  "DKIM signing failed");
  }
  std::string b =
      Base64(reinterpret_cast<const unsigned char*>(signature.data()),
             signature.size());
  // The signature goes on after "b=", broken onto lines of its own.
  for (size_t at = 0; at < b.size(); at += 72) {
    if (column + std::min<size_t>(72, b.size() - at) > 78) {
      line += "\r\n ";
      column = 1;
    }
    line += b.substr(at, 72);
    column += std::min<size_t>(72, b.size() - at);
  }
  line += "\r\n";
  line.reserve(line.size() + text.size());
  line += text;
  return line;
}

namespace {

// The position of the next CR or LF at or after `from`; npos for none.
// Two memchr scans in step: bodies are long lines of plain text, which
// memchr passes over many bytes at a time.
class LineEnds {
 public:
  explicit LineEnds(std::string_view text)
      : text_(text), cr_(Find('\r', 0)), lf_(Find('\n', 0)) {}
  size_t Next(size_t from) {
    if (cr_ != npos && cr_ < from) cr_ = Find('\r', from);
    if (lf_ != npos && lf_ < from) lf_ = Find('\n', from);
    return std::min(cr_, lf_);
  }

 private:
  static constexpr size_t npos = std::string_view::npos;
  size_t Find(char c, size_t from) const {
    if (from >= text_.size()) return npos;
    const void* at = std::memchr(text_.data() + from, c, text_.size() - from);
    return at ? static_cast<size_t>(static_cast<const char*>(at) - text_.data())
              : npos;
  }
  std::string_view text_;
  size_t cr_;
  size_t lf_;
};

}  // namespace

size_t FirstBareLineEnd(std::string_view text) {
  LineEnds ends(text);
  for (size_t at = ends.Next(0); at != std::string_view::npos;
       at = ends.Next(at + 2)) {
    if (text[at] == '\n' || at + 1 == text.size() || text[at + 1] != '\n') {
      return at;
    }
  }
  return std::string_view::npos;
}

std::string CrLfLines(std::string text) {
  const std::string_view view(text);
  size_t at = FirstBareLineEnd(view);
  if (at == std::string_view::npos) return text;
  std::string lines;
  lines.reserve(text.size() + text.size() / 64 + 2);
  size_t copied = 0;
  LineEnds ends(view);
  for (at = ends.Next(0); at != std::string_view::npos; at = ends.Next(at)) {
    lines.append(view, copied, at - copied);
    lines += "\r\n";
    at += view[at] == '\r' && at + 1 < view.size() && view[at + 1] == '\n' ? 2
                                                                           : 1;
    copied = at;
  }
  lines.append(view, copied);
  return lines;
}

std::string RelaxedHeader(std::string_view field) {
  size_t colon = field.find(':');
  std::string canonical = FieldName(field);
  canonical += ':';
  const size_t value_start = canonical.size();  // blanks before it go
  std::string_view value =
      colon == std::string_view::npos ? "" : field.substr(colon + 1);
  bool blank = false;
  for (char c : value) {
    if (c == '\r' || c == '\n') continue;
    if (IsBlank(c)) {
      blank = true;
      continue;
    }
    if (blank && canonical.size() > value_start) canonical += ' ';
    blank = false;
    canonical += c;
  }
  canonical += "\r\n";
  return canonical;
}

namespace {

// Hands the relaxed canonical form of `body` to `append(data, size)` in
// pieces, without holding it whole: runs of text are passed as they are, a
// run of blanks between two becomes one space, blanks at a line's end go,
// and the line ends of empty lines are held back until a line with text
// follows (empty lines at the end go).
template <typename Append>
void RelaxedBodyPieces(std::string_view body, Append&& append) {
  size_t held_line_ends = 0;
  while (!body.empty()) {
    size_t end = body.find("\r\n");
    std::string_view line = body.substr(0, end);
    bool text = false;
    size_t at = 0;
    while (at < line.size()) {
      size_t run = at;
      while (run < line.size() && !IsBlank(line[run])) ++run;
      if (run > at) {
        for (; held_line_ends > 0; --held_line_ends) append("\r\n", 2);
        if (at > 0) append(" ", 1);
        append(line.data() + at, run - at);
        text = true;
      }
      at = run;
      while (at < line.size() && IsBlank(line[at])) ++at;
    }
    if (text) {
      append("\r\n", 2);
    } else {
      ++held_line_ends;
    }
    if (end == std::string_view::npos) break;
    body.remove_prefix(end + 2);
  }
}

}  // namespace

std::string RelaxedBody(std::string_view body) {
  std::string canonical;
  canonical.reserve(body.size() + 2);
  RelaxedBodyPieces(body, [&canonical](const char* data, size_t size) {
    canonical.append(data, size);
  });
  return canonical;
}

std::string RelaxedBodySha256(std::string_view body) {
  // The pieces are gathered in a small buffer and hashed a buffer at a
  // time, so that a large body costs no memory of its size.
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(
      EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context ||
      EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw Failure(kInvalidCall, std::string(kPenrillSource),
                  "DKIM signing failed");
  }
  char buffer[16384];
  size_t used = 0;
  RelaxedBodyPieces(body, [&](const char* data, size_t size) {
    if (used + size > sizeof buffer) {
      EVP_DigestUpdate(context.get(), buffer, used);
      used = 0;
      if (size > sizeof buffer) {
        EVP_DigestUpdate(context.get(), data, size);
        return;
      }
    }
    std::memcpy(buffer + used, data, size);
    used += size;
  });
  EVP_DigestUpdate(context.get(), buffer, used);
  unsigned char digest[SHA256_DIGEST_LENGTH];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context.get(), digest, &length);
  return std::string(reinterpret_cast<char*>(digest), length);
}

}  // namespace corvane::penrill
