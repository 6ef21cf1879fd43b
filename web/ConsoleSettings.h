// SPDX-License-Identifier: Apache-2.0
// What `corvane serve` was told: where it listens, the data directory, the
// mail and whois servers, the request bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::web {

struct ConsoleSettings {
  std::string host = "127.0.0.1";
  int port = 8080;
  // An absolute path without a trailing slash.
  std::string data_directory;
  std::string smtp_server = "localhost:25";
  // Empty: the whois component's own default server.
  std::string whois_server;
  // Empty: the RDAP bootstrap's server for the query's top-level domain.
  std::string rdap_server;
  uint64_t max_body = 256ull * 1024 * 1024;
  size_t threads = 2;
  // Comma-separated; unset: every extension is allowed.
  std::optional<std::string> upload_extensions;
  // Further names the console is reached by (NAME or NAME:PORT), beside
  // localhost, the loopback and listening addresses and the address a
  // connection came in on; any other Host is refused.
  std::vector<std::string> host_names;
  // Further origins allowed to post, e.g. a reverse proxy's
  // "https://console.example.org".
  std::vector<std::string> origins;
  // The copy of wharfpost the Gateway page runs; empty: no Gateway page.
  std::string gateway_program;
  // The console's own folder outside the data directory, which no page
  // shows or writes: the Gateway's program and settings, the links of the
  // files a message attaches. Only this user may enter it.
  std::string private_directory;
  // The token that opens the console (in the address or on the login page);
  // empty: none. With neither a token nor a users file, every request that
  // passes the guard is served, as behind a proxy that authenticates.
  std::string access_token;
  // The file of named accounts ("NAME:HASH" lines); empty: none.
  std::string users_file;
  // PEM files of the certificate (with its chain) and its key; empty: the
  // console speaks plain HTTP.
  std::string tls_certificate;
  std::string tls_key;

  // "https" with a certificate, else "http".
  std::string Scheme() const {
    return tls_certificate.empty() ? "http" : "https";
  }

  // The folders the console itself keeps in the data directory: the Upload
  // page's and the Gateway page's. The Files page neither deletes nor
  // renames them.
  static constexpr const char* kUploadFolderName = "uploads";
  static constexpr const char* kGatewayFolderName = "gateway";

  std::string UploadDirectory() const {
    return data_directory + "/" + kUploadFolderName + "/";
  }
  std::string GatewayDirectory() const {
    return data_directory + "/" + kGatewayFolderName + "/";
  }
};

}  // namespace corvane::web
