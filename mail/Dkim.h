// SPDX-License-Identifier: Apache-2.0
// DKIM signatures (RFC 6376, relaxed/relaxed) for the messages Penrill
// sends: rsa-sha256, and ed25519-sha256 (RFC 8463), through OpenSSL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace corvane::penrill {

class DkimSigner {
 public:
  // Reads the PEM private key (RSA or Ed25519) from `pem`. Throws Failure
  // (kInvalidFileFormat) when it holds no such key.
  DkimSigner(std::string domain, std::string selector, std::string_view pem);
  ~DkimSigner();
  DkimSigner(const DkimSigner&) = delete;
  DkimSigner& operator=(const DkimSigner&) = delete;

  // The message with its line breaks written as CR LF and a DKIM-Signature
  // line in front that covers every header line and the body, at the time
  // `unix_seconds`. Throws Failure (kInvalidCall) when signing fails.
  std::string Sign(std::string_view message, int64_t unix_seconds) const;

  // The algorithm's name in the signature ("rsa-sha256", ...). Never fails.
  std::string_view Algorithm() const;

 private:
  struct Key;
  std::string domain_;
  std::string selector_;
  std::unique_ptr<Key> key_;
};

// The text with every bare CR or LF written as CR LF. Never fails.
std::string CrLfLines(std::string text);

// Where the first CR or LF that is not part of a CR LF is; npos for none.
size_t FirstBareLineEnd(std::string_view text);

// The relaxed canonical form of one header field ("Name: value", perhaps
// folded, without its line end): lower-case name, unfolded, blanks
// squeezed, "name:value" followed by CR LF. Never fails.
std::string RelaxedHeader(std::string_view field);

// The relaxed canonical form of a body (CR LF lines). Never fails.
std::string RelaxedBody(std::string_view body);

// The SHA-256 digest (32 bytes) of RelaxedBody(body), without holding that
// form whole. Throws Failure (kInvalidCall) when the digest cannot be made.
std::string RelaxedBodySha256(std::string_view body);

}  // namespace corvane::penrill
