// SPDX-License-Identifier: Apache-2.0
#include "net/WSKSOCK.h"

#include <atomic>
#include <string_view>

#include "platform/Sockets.h"

namespace corvane::net {
namespace {

// Starts not yet ended; the layer's started flag is "above zero".
std::atomic<int> start_count{0};

constexpr std::string_view kLibraryDescription = "Corvane Sockets 1.1";

struct ErrorText {
  int32_t code;
  std::string_view text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Permission Denied."},
    {10014, "Bad Address."},
    {10022, "Invalid Argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on nonsocket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Protocol not available."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Can't assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Network dropped connection."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Can't send after socket shutdown."},
    {10059, "Too many references: can't splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty."},
    {10067, "Too many processes."},
    {10068, "Too many users."},
    {10069, "Disk quota exceeded."},
    {10070, "Stale NFS file handle."},
    {10071, "Too many levels of remote in path."},
    {10091, "Network subsystem is unusable."},
    {10092, "Winsock DLL cannot support this application."},
    {10093, "Winsock not initialized."},
    {10101, "Disconnect."},
    {11001, "Host not found."},
    {11002, "Nonauthoritative host not found."},
    {11003, "Nonrecoverable error."},
    {11004, "Valid name, no data record of requested type."},
};

}  // namespace

bool StartWinsock(std::string& description) {
  try {
    description = kLibraryDescription;
    ++start_count;
    return true;
  } catch (...) {
    return false;
  }
}

void EndWinsock() {
  int count = start_count.load();
  while (count > 0 && !start_count.compare_exchange_weak(count, count - 1)) {
  }
}

bool WinsockStarted() { return start_count.load() > 0; }

uint32_t GetHostAddress(std::string_view host) {
  try {
    auto& sockets = platform::Network();
    uint32_t address = sockets.ParseAddress(host);
    if (address != kAddressNone) return address;
    return sockets.Lookup(host);
  } catch (...) {
    return kAddressNone;
  }
}

std::string GetLocalHostName() {
  try {
    auto name = platform::Network().HostName();
    if (name) {
      std::string text = name->substr(0, name->find('\0'));
      if (!text.empty()) return text;
    }
  } catch (...) {
    // No host name from the system: the fixed fall-back below names it.
  }
  return "Unknown";
}

std::string GetGreetingName(int32_t socket) {
  try {
    auto& sockets = platform::Network();
    if (auto name = sockets.QualifiedHostName()) return *name;
    uint32_t address = sockets.LocalAddress(socket);
    if (address != kAddressNone) {
      const auto* b = reinterpret_cast<const unsigned char*>(&address);
      return "[" + std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
             std::to_string(b[2]) + "." + std::to_string(b[3]) + "]";
    }
  } catch (...) {
    // No name nor address: the plain host name below stands for it.
  }
  return GetLocalHostName();
}

std::string GetSocketErrorText(int32_t code) {
  for (const auto& entry : kErrorTexts) {
    if (entry.code == code) return std::string(entry.text);
  }
  return {};
}

int32_t LastSocketError() {
  try {
    return platform::Network().LastError();
  } catch (...) {
    return 0;
  }
}

}  // namespace corvane::net
