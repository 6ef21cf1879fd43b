// SPDX-License-Identifier: Apache-2.0
#include "platform/Listener.h"

#include <sys/socket.h>

namespace corvane::platform {

bool AllowAddressReuse(int socket) {
  int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool SetListenBacklog(int socket, int backlog) {
  return ::listen(socket, backlog) == 0;
}

}  // namespace corvane::platform
