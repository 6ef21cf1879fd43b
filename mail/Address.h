// SPDX-License-Identifier: Apache-2.0
// Envelope addresses: whether a text is a mailbox as the mail transfer
// writes it (RFC 5321, with UTF-8 text as RFC 6531 allows), and the ASCII
// form of an internationalised domain.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::penrill {

// Whether `address` is local-part "@" domain: a dot-string or a quoted
// string, then domain labels or an address literal ("[...]"). Bytes above
// 127 count as letters (UTF-8 text). Never fails.
bool IsMailboxAddress(std::string_view address);

// The address with its domain in ASCII (IDNA 2008, labels "xn--..."); the
// address unchanged when it is ASCII already; nothing when the local part
// is not ASCII or the domain cannot be converted. Never fails.
std::optional<std::string> AsciiAddress(std::string_view address);

// A header entry (an address, or a display name and "<address>") with the
// address's domain in ASCII as AsciiAddress gives it; the entry unchanged
// when its address is ASCII or cannot be converted. Never fails.
std::string AsciiHeaderAddress(std::string_view entry);

}  // namespace corvane::penrill
