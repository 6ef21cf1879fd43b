// SPDX-License-Identifier: Apache-2.0
#include "platform/tests/TlsPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace corvane::platform::testing {
namespace {

std::string PemOf(int (*write)(BIO*, void*), void* object) {
  BIO* memory = BIO_new(BIO_s_mem());
  write(memory, object);
  char* data = nullptr;
  long length = BIO_get_mem_data(memory, &data);
  std::string pem(data, static_cast<size_t>(length));
  BIO_free(memory);
  return pem;
}

// A self-signed certificate for localhost and 127.0.0.1 and its key.
void MakeCertificate(std::string& certificate_pem, std::string& key_pem) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* certificate = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(
      name, "CN", MBSTRING_ASC,
      reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(certificate, name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* names = X509V3_EXT_conf_nid(
      nullptr, &context, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  X509_add_ext(certificate, names, -1);
  X509_EXTENSION_free(names);
  X509_sign(certificate, key, EVP_sha256());
  certificate_pem = PemOf(
      [](BIO* b, void* o) {
        return PEM_write_bio_X509(b, static_cast<X509*>(o));
      },
      certificate);
  key_pem = PemOf(
      [](BIO* b, void* o) {
        return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(o), nullptr,
                                        nullptr, 0, nullptr, nullptr);
      },
      key);
  X509_free(certificate);
  EVP_PKEY_free(key);
}

// Reads lines from the plain socket or, once it is set, the TLS session.
class LineReader {
 public:
  explicit LineReader(int socket) : socket_(socket) {}
  void Secure(SSL* ssl) { ssl_ = ssl; }
  // The next line with its CR LF; empty at the end of the connection.
  std::string Line() { return Until("\r\n"); }
  std::string Until(const std::string& end) {
    for (;;) {
      size_t at = buffer_.find(end);
      if (at != std::string::npos) {
        std::string text = buffer_.substr(0, at + end.size());
        buffer_.erase(0, at + end.size());
        return text;
      }
      char chunk[4096];
      int got = ssl_
                    ? SSL_read(ssl_, chunk, sizeof chunk)
                    : static_cast<int>(::recv(socket_, chunk, sizeof chunk, 0));
      if (got <= 0) return {};
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }
  bool Write(const std::string& text) {
    int length = static_cast<int>(text.size());
    return ssl_ ? SSL_write(ssl_, text.data(), length) == length
                : ::send(socket_, text.data(), text.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(text.size());
  }

 private:
  int socket_;
  SSL* ssl_ = nullptr;
  std::string buffer_;
};

}  // namespace

TlsPeer::TlsPeer() {
  // OpenSSL writes to the peer's socket with write(): a client that went
  // away must not end the test program with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  MakeCertificate(certificate_pem_, key_pem_);
  certificate_file_ =
      (std::filesystem::temp_directory_path() /
       ("tlspeer-" + std::to_string(std::random_device{}()) + ".pem"))
          .string();
  std::ofstream(certificate_file_) << certificate_pem_;
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 1) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address),
                    &length) != 0) {
    throw std::runtime_error("TlsPeer cannot listen");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

TlsPeer::~TlsPeer() {
  ::shutdown(listener_, SHUT_RDWR);
  Join();
  ::close(listener_);
  std::filesystem::remove(certificate_file_);
}

std::string TlsPeer::Address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void TlsPeer::Join() {
  if (thread_.joinable()) thread_.join();
}

void TlsPeer::Serve() {
  int connection = ::accept(listener_, nullptr, nullptr);
  if (connection < 0) return;
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  BIO* certificate = BIO_new_mem_buf(certificate_pem_.data(),
                                     static_cast<int>(certificate_pem_.size()));
  BIO* key =
      BIO_new_mem_buf(key_pem_.data(), static_cast<int>(key_pem_.size()));
  X509* x509 = PEM_read_bio_X509(certificate, nullptr, nullptr, nullptr);
  EVP_PKEY* pkey = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
  SSL_CTX_use_certificate(context, x509);
  SSL_CTX_use_PrivateKey(context, pkey);
  SSL* ssl = SSL_new(context);
  LineReader reader(connection);
  const std::string offer = "250-peer.test\r\n250-STARTTLS\r\n250 8BITMIME\r\n";
  bool going = reader.Write("220 peer ready\r\n");
  while (going) {
    std::string line = reader.Line();
    if (line.empty()) break;
    std::string verb = line.substr(0, 4);
    if (verb == "EHLO") {
      going = reader.Write(offer);
    } else if (verb == "STAR") {
      going = reader.Write("220 go ahead\r\n");
      SSL_set_fd(ssl, connection);
      going = going && SSL_accept(ssl) == 1;
      reader.Secure(ssl);
    } else if (verb == "DATA") {
      going = reader.Write("354 go\r\n");
      message_ = reader.Until("\r\n.\r\n");
      going = going && !message_.empty() && reader.Write("250 queued\r\n");
    } else if (verb == "QUIT") {
      reader.Write("221 bye\r\n");
      break;
    } else {
      going = reader.Write("250 ok\r\n");
    }
  }
  SSL_free(ssl);
  SSL_CTX_free(context);
  X509_free(x509);
  EVP_PKEY_free(pkey);
  BIO_free(certificate);
  BIO_free(key);
  ERR_clear_error();
  ::close(connection);
}

}  // namespace corvane::platform::testing
