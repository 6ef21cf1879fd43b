// SPDX-License-Identifier: Apache-2.0
// Blocking TCP client connections for the components: create, connect to a
// server on the component's service port, send texts in pieces, read a
// reply or everything up to the close, and close. No operation raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Export.h"
#include "platform/Tls.h"

namespace corvane::net {

// Service ports of the components.
inline constexpr uint16_t kSmtpPort = 25;
inline constexpr uint16_t kWhoisPort = 43;

// Default time limits: connecting, and reading one reply or one answer.
inline constexpr int kDefaultConnectTimeoutMs = 30000;
inline constexpr int kDefaultReplyTimeoutMs = 60000;

// Largest reply ReceiveReply accepts; a longer one is a failure (10040).
inline constexpr size_t kReplyLimit = 64 * 1024;

// Largest piece SendData hands to one send call.
inline constexpr size_t kSendPieceSize = 1998;

// A server text split into host and port.
struct CORVANE_API ServerAddress {
  std::string host;
  uint16_t port;
};

// "host:port" gives that port; any other text is a host on `service_port`
// (a text whose last colon is not followed by a port 1 to 65535 is all
// host).
CORVANE_API ServerAddress SplitServer(std::string_view server,
                                      uint16_t service_port);

// A new IPv4 stream socket's handle; -1 when none can be created.
CORVANE_API int32_t CreateSocket();

// Connects to `server` (name, dotted address, or either with ":port") on
// `service_port` unless the text names a port, within `timeout_ms` (0: no
// limit); false on failure, the reason in LastSocketError().
CORVANE_API bool ConnectSocket(int32_t socket, std::string_view server,
                               uint16_t service_port,
                               int timeout_ms = kDefaultConnectTimeoutMs);

// Sends the text in pieces of at most 1998 bytes (`piece_size` for a
// caller that streams large texts and wants fewer calls), each within
// `timeout_ms` (0: no limit); the number of bytes sent, or -1 as soon as one
// piece is not wholly accepted (10060 in LastSocketError() when the time ran
// out).
CORVANE_API int32_t SendData(int32_t socket, std::string_view text,
                             int timeout_ms = kDefaultReplyTimeoutMs,
                             size_t piece_size = kSendPieceSize);

// Whether `text` holds one whole SMTP reply: it ends with a line end and its
// last line is three digits followed by a space or by the line end.
CORVANE_API bool ReplyComplete(std::string_view text);

// Reads until one whole reply has arrived (a multi-line reply with all its
// lines), or the server closes, within `timeout_ms` for the whole reply (0:
// no limit). What arrived before a close is returned as it is. Empty text
// on failure: a receive error, a time-out (10060) or a reply longer than
// kReplyLimit (10040); LastSocketError() is 0 after a success.
CORVANE_API std::string ReceiveReply(int32_t socket,
                                     int timeout_ms = kDefaultReplyTimeoutMs);

// Bounds for ReceiveAll; 0 means no bound.
struct CORVANE_API ReceiveLimits {
  size_t max_bytes = 0;
  int timeout_ms = 0;  // for the whole answer
};

// Everything the server sends until it closes, in arrival order. Empty text
// on failure, with LastSocketError() telling why: a receive error, a
// time-out (10060) or more than `max_bytes` (10040); 0 after a success.
CORVANE_API std::string ReceiveAll(int32_t socket,
                                   const ReceiveLimits& limits = {});

// One reply from a stream of replies that may hold several (a pipelining
// server answers a group of commands at once): the first complete reply in
// `pending` and what the socket brings, the rest kept in `pending` for the
// next call. Fails as ReceiveReply does (empty text); a close returns what
// arrived.
CORVANE_API std::string ReceiveNextReply(int32_t socket, int timeout_ms,
                                         std::string& pending);

// The last line of a reply, without its line end: the line whose code is
// the reply's code (a multi-line reply repeats the code on every line, and
// only the last is final). Never fails.
CORVANE_API std::string_view LastReplyLine(std::string_view reply);

// The number the reply begins with (its first three characters); -1 when
// they are not digits or the reply is empty.
CORVANE_API int16_t GetReplyCode(std::string_view reply);

// Starts TLS on a connected socket: the handshake within `timeout_ms`, then
// every SendData and receive on the socket goes through the session until
// CloseSocket. False on failure, `error` telling why (empty when a socket
// call failed: LastSocketError() then tells).
CORVANE_API bool StartTls(int32_t socket, const platform::TlsSettings& settings,
                          int timeout_ms, std::string& error);

// Whether the socket's exchange is encrypted.
CORVANE_API bool TlsActive(int32_t socket);

// Closes a handle above 0 (ending its TLS session first); does nothing for
// any other.
CORVANE_API void CloseSocket(int32_t socket);

}  // namespace corvane::net
