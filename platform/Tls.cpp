// SPDX-License-Identifier: Apache-2.0
#include "platform/Tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <map>
#include <mutex>
#include <utility>

#include "platform/Clock.h"
#include "platform/Sockets.h"

namespace corvane::platform {
namespace {

// Error code given to a TLS failure that no socket call reported.
constexpr int32_t kTlsProtocolFailure = 10053;

// What the BIO of one session needs: its socket and the deadline of the
// present operation; `socket_failed` tells a socket failure from a TLS one.
struct Transport {
  int32_t socket;
  Deadline deadline{0};
  bool socket_failed = false;
};

// Milliseconds left before the transport's deadline; -1 when it has passed,
// which fails the transport as a timed-out socket call would.
int TimeLeft(Transport& transport) {
  int left = transport.deadline.Left();
  if (left < 0) {
    Network().SetLastError(kSocketTimedOut);
    transport.socket_failed = true;
  }
  return left;
}

int TransportWrite(BIO* bio, const char* data, int length) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  auto& sockets = Network();
  int left = TimeLeft(*transport);
  if (left < 0) return -1;
  int32_t sent = sockets.Send(transport->socket, data, length, left);
  if (sent != length) {
    // A short send is a failure here as in every other send of the layer.
    if (sent >= 0) sockets.SetLastError(kSocketConnectionReset);
    transport->socket_failed = true;
    return -1;
  }
  return sent;
}

int TransportRead(BIO* bio, char* buffer, int length) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  auto& sockets = Network();
  int left = TimeLeft(*transport);
  if (left < 0) return -1;
  int32_t got = sockets.Receive(transport->socket, buffer, length, left);
  if (got < 0) transport->socket_failed = true;
  return got;
}

long TransportControl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int TransportCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* TransportMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK,
                                 "corvane socket");
    BIO_meth_set_write(m, TransportWrite);
    BIO_meth_set_read(m, TransportRead);
    BIO_meth_set_ctrl(m, TransportControl);
    BIO_meth_set_create(m, TransportCreate);
    return m;
  }();
  return method;
}

struct ContextDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using ContextPointer = std::unique_ptr<SSL_CTX, ContextDeleter>;

// The first reason in OpenSSL's error queue, which is then emptied.
std::string OpenSslReason() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "TLS failure.";
  const char* reason = ERR_reason_error_string(code);
  return reason ? reason : "TLS failure.";
}

// The last session of each server per context, for resumption. A session
// is stored only once its handshake (and certificate check) succeeded.
struct SessionDeleter {
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
std::mutex session_mutex;
std::map<std::pair<const SSL_CTX*, std::string>,
         std::unique_ptr<SSL_SESSION, SessionDeleter>>
    sessions;

int StoreSession(SSL* ssl, SSL_SESSION* session) {
  auto* key = static_cast<const std::string*>(SSL_get_app_data(ssl));
  if (key == nullptr || key->empty()) return 0;
  std::lock_guard lock(session_mutex);
  sessions[{SSL_get_SSL_CTX(ssl), *key}].reset(session);
  return 1;  // the reference is ours now
}

// Offers the server's last session, if any; never fails.
void ResumeSession(SSL* ssl, const std::string& key) {
  if (key.empty()) return;
  std::lock_guard lock(session_mutex);
  auto found = sessions.find({SSL_get_SSL_CTX(ssl), key});
  if (found != sessions.end()) SSL_set_session(ssl, found->second.get());
}

// One context per verification setting, made once: loading the trusted
// certificates costs more than a whole handshake.
SSL_CTX* SharedContext(bool verify, const std::string& ca_file,
                       std::string& error) {
  static std::mutex mutex;
  static std::map<std::pair<bool, std::string>, ContextPointer> contexts;
  std::lock_guard lock(mutex);
  auto key = std::make_pair(verify, ca_file);
  if (auto found = contexts.find(key); found != contexts.end()) {
    return found->second.get();
  }
  ContextPointer context(SSL_CTX_new(TLS_client_method()));
  if (!context) {
    error = OpenSslReason();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_session_cache_mode(
      context.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context.get(), StoreSession);
  if (verify) {
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(context.get());
    if (!ca_file.empty() && SSL_CTX_load_verify_locations(
                                context.get(), ca_file.c_str(), nullptr) != 1) {
      error = "Cannot read the trusted certificates of " + ca_file + ": " +
              OpenSslReason();
      return nullptr;
    }
  } else {
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  }
  ERR_clear_error();
  return contexts.emplace(key, std::move(context)).first->second.get();
}

bool IsAddressLiteral(const std::string& name) {
  in_addr v4;
  in6_addr v6;
  return inet_pton(AF_INET, name.c_str(), &v4) == 1 ||
         inet_pton(AF_INET6, name.c_str(), &v6) == 1;
}

}  // namespace

struct TlsSession::State {
  Transport transport;
  SSL* ssl = nullptr;
  bool closed = false;
  std::string session_key;

  ~State() { SSL_free(ssl); }

  // The outcome of a failed call: the socket's error stands when a socket
  // call failed; otherwise a TLS failure is recorded as an aborted
  // connection. Returns the text that tells why.
  std::string Failed(int result) {
    int kind = SSL_get_error(ssl, result);
    if (transport.socket_failed) {
      transport.socket_failed = false;
      ERR_clear_error();
      return {};
    }
    Network().SetLastError(kTlsProtocolFailure);
    if (kind == SSL_ERROR_SSL) return OpenSslReason();
    ERR_clear_error();
    return "The server closed the secure connection.";
  }
};

TlsSession::TlsSession(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::Open(int32_t socket,
                                             const TlsSettings& settings,
                                             int timeout_ms,
                                             std::string& error) {
  SSL_CTX* context = SharedContext(settings.verify, settings.ca_file, error);
  if (context == nullptr) {
    Network().SetLastError(kTlsProtocolFailure);
    return nullptr;
  }
  auto state = std::make_unique<State>();
  state->transport.socket = socket;
  state->transport.deadline = Deadline(timeout_ms);
  state->ssl = SSL_new(context);
  BIO* bio = state->ssl ? BIO_new(TransportMethod()) : nullptr;
  if (bio == nullptr) {
    error = OpenSslReason();
    Network().SetLastError(kTlsProtocolFailure);
    return nullptr;
  }
  BIO_set_data(bio, &state->transport);
  SSL_set_bio(state->ssl, bio, bio);
  state->session_key = settings.session_key;
  SSL_set_app_data(state->ssl, &state->session_key);
  ResumeSession(state->ssl, state->session_key);
  const std::string& name = settings.server_name;
  if (IsAddressLiteral(name)) {
    if (settings.verify) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(state->ssl), name.c_str());
    }
  } else {
    SSL_set_tlsext_host_name(state->ssl, name.c_str());
    if (settings.verify) SSL_set1_host(state->ssl, name.c_str());
  }
  int result = SSL_connect(state->ssl);
  if (result != 1) {
    long verdict = SSL_get_verify_result(state->ssl);
    if (settings.verify && verdict != X509_V_OK) {
      ERR_clear_error();
      Network().SetLastError(kTlsProtocolFailure);
      error = std::string("The server's certificate was not accepted: ") +
              X509_verify_cert_error_string(verdict) + ".";
    } else {
      error = state->Failed(result);
    }
    return nullptr;
  }
  return std::unique_ptr<TlsSession>(new TlsSession(std::move(state)));
}

int32_t TlsSession::Send(const char* data, int32_t count, int timeout_ms) {
  if (count <= 0) return 0;
  state_->transport.deadline = Deadline(timeout_ms);
  size_t written = 0;
  int result =
      SSL_write_ex(state_->ssl, data, static_cast<size_t>(count), &written);
  if (result != 1) {
    state_->Failed(result);
    return -1;
  }
  return static_cast<int32_t>(written);
}

int32_t TlsSession::Receive(char* buffer, int32_t count, int timeout_ms) {
  state_->transport.deadline = Deadline(timeout_ms);
  size_t got = 0;
  int result =
      SSL_read_ex(state_->ssl, buffer, static_cast<size_t>(count), &got);
  if (result == 1) return static_cast<int32_t>(got);
  if (SSL_get_error(state_->ssl, result) == SSL_ERROR_ZERO_RETURN) return 0;
  if (!state_->transport.socket_failed &&
      SSL_get_error(state_->ssl, result) == SSL_ERROR_SYSCALL) {
    ERR_clear_error();
    return 0;  // the peer closed the connection without a closing alert
  }
  state_->Failed(result);
  return -1;
}

void TlsSession::Close() {
  if (state_->closed) return;
  state_->closed = true;
  state_->transport.deadline = Deadline(1000);
  SSL_shutdown(state_->ssl);
  ERR_clear_error();
}

}  // namespace corvane::platform
