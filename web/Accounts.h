// SPDX-License-Identifier: Apache-2.0
// The console's named accounts and secrets: the users file of "NAME:HASH"
// lines (hashes of libsodium's crypto_pwhash_str), and the random tokens
// and constant-time comparisons of its access.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::web {

struct Account {
  std::string name;
  std::string hash;
};

// Whether `name` may name an account: 1 to 64 bytes, none of them a
// control byte, a blank or ':'.
bool IsAccountName(std::string_view name);

// The accounts of a users file: one "NAME:HASH" a line; blank lines and
// lines starting with '#' are skipped. Throws Failure (321) naming the
// first line that is neither, or a name given twice.
std::vector<Account> ParseUsers(std::string_view text);

// The file's text for `accounts`, one line each.
std::string UsersText(const std::vector<Account>& accounts);

// Replaces the hash of the account `name`, or adds the account at the end.
void SetAccount(std::vector<Account>& accounts, std::string_view name,
                std::string hash);

// The password's hash as crypto_pwhash_str writes it (Argon2id, the
// interactive limits). Throws Failure (7) when the memory cannot be had.
std::string HashPassword(std::string_view password);

// Whether `password` is the one `hash` was made of; false for a hash that
// is not one of crypto_pwhash_str's.
bool VerifyPassword(std::string_view hash, std::string_view password);

// `bytes` random bytes from the system's generator, as lowercase hex.
std::string RandomToken(size_t bytes);

// Whether the two texts are equal, in a time that depends only on their
// lengths.
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace corvane::web
