// SPDX-License-Identifier: Apache-2.0
// Settings of a server's listening socket that its HTTP library leaves at
// small defaults.
#pragma once

#include "platform/Export.h"

namespace corvane::platform {

// Lets the address be bound again at once after a restart (SO_REUSEADDR).
// Returns false when the option cannot be set.
[[nodiscard]] CORVANE_API bool AllowAddressReuse(int socket);

// Sets the queue of connections waiting to be accepted on a listening
// socket; false when the socket does not take it.
[[nodiscard]] CORVANE_API bool SetListenBacklog(int socket, int backlog);

}  // namespace corvane::platform
