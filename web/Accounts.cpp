// SPDX-License-Identifier: Apache-2.0
#include "web/Accounts.h"

#include <sodium.h>

#include <mutex>

#include "platform/Failure.h"

namespace corvane::web {
namespace {

constexpr size_t kLongestName = 64;

void StartSodium() {
  static std::once_flag started;
  std::call_once(started, [] {
    if (sodium_init() < 0) {
      throw Failure(kOutOfMemory, "Corvane console", "libsodium cannot start");
    }
  });
}

}  // namespace

bool IsAccountName(std::string_view name) {
  if (name.empty() || name.size() > kLongestName) return false;
  for (unsigned char c : name) {
    if (c <= ' ' || c == ':' || c == 0x7F) return false;
  }
  return true;
}

std::vector<Account> ParseUsers(std::string_view text) {
  std::vector<Account> accounts;
  size_t number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.starts_with('#')) continue;
    size_t colon = line.find(':');
    std::string_view name = line.substr(0, colon);
    std::string_view hash =
        colon == std::string_view::npos ? "" : line.substr(colon + 1);
    if (!IsAccountName(name) || !hash.starts_with("$argon2")) {
      throw Failure(kInvalidFileFormat, "Corvane console",
                    "line " + std::to_string(number) +
                        " is not NAME:HASH with a hash of corvane serve "
                        "--add-user");
    }
    for (const auto& account : accounts) {
      if (account.name == name) {
        throw Failure(kInvalidFileFormat, "Corvane console",
                      "line " + std::to_string(number) + " names " +
                          std::string(name) + " a second time");
      }
    }
    accounts.push_back({std::string(name), std::string(hash)});
  }
  return accounts;
}

std::string UsersText(const std::vector<Account>& accounts) {
  std::string text;
  for (const auto& account : accounts) {
    text += account.name + ":" + account.hash + "\n";
  }
  return text;
}

void SetAccount(std::vector<Account>& accounts, std::string_view name,
                std::string hash) {
  for (auto& account : accounts) {
    if (account.name == name) {
      account.hash = std::move(hash);
      return;
    }
  }
  accounts.push_back({std::string(name), std::move(hash)});
}

std::string HashPassword(std::string_view password) {
  StartSodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(),
                        crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    throw Failure(kOutOfMemory, "Corvane console",
                  "not enough memory to hash the password");
  }
  return hash;
}

bool VerifyPassword(std::string_view hash, std::string_view password) {
  StartSodium();
  if (hash.size() >= crypto_pwhash_STRBYTES) return false;
  // crypto_pwhash_str_verify reads a NUL-terminated text.
  std::string terminated(hash);
  return crypto_pwhash_str_verify(terminated.c_str(), password.data(),
                                  password.size()) == 0;
}

std::string RandomToken(size_t bytes) {
  StartSodium();
  std::string raw(bytes, '\0');
  randombytes_buf(raw.data(), raw.size());
  std::string hex(2 * bytes + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(),
                 reinterpret_cast<const unsigned char*>(raw.data()),
                 raw.size());
  hex.pop_back();
  return hex;
}

bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  StartSodium();
  return a.empty() || sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace corvane::web
