// SPDX-License-Identifier: Apache-2.0
// The socket library's own services for the TCP client layer: starting and
// ending it, resolving a server name, this machine's name and the message
// text of a socket error code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Export.h"

namespace corvane::net {

// IPv4 address value meaning "not resolved" (255.255.255.255).
inline constexpr uint32_t kAddressNone = 0xFFFFFFFFu;

// Starts the socket library and fills `description` with its description;
// false when it cannot be started.
CORVANE_API bool StartWinsock(std::string& description);

// Ends one start of the socket library; does nothing when none is left.
CORVANE_API void EndWinsock();

// Whether the socket library is started (at least one start not ended).
CORVANE_API bool WinsockStarted();

// The IPv4 address (network byte order) of a dotted address or host name;
// kAddressNone when it cannot be resolved.
CORVANE_API uint32_t GetHostAddress(std::string_view host);

// This machine's host name; "Unknown" when the platform cannot tell it.
CORVANE_API std::string GetLocalHostName();

// The name a client greets a mail server with: this machine's fully
// qualified name, else the address literal of the socket's local end
// ("[127.0.0.1]"); GetLocalHostName() when neither can be told.
CORVANE_API std::string GetGreetingName(int32_t socket);

// The message text of a socket error code; empty text for a code outside
// the table.
CORVANE_API std::string GetSocketErrorText(int32_t code);

// The last socket error code of this thread (0 when none).
CORVANE_API int32_t LastSocketError();

}  // namespace corvane::net
