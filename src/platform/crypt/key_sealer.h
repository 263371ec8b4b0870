// At-rest protection of private keys kept in the user database.
//
// Threat model: the database is a single file that gets copied around
// (backups, support bundles, profile sync). Each private key is sealed with
// AES-256-GCM under a per-user 32-byte secret kept in a separate 0600 file
// beside the database, and bound (as GCM associated data) to its container
// and key slot so that rows cannot be swapped. A copy of the database alone
// therefore reveals no key. It does not protect against an attacker running
// as the same user, who can read the secret file just as this code does;
// that is the same boundary the Windows user profile gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::platform::crypt {

// Encrypts `plain`; output is nonce(12) || ciphertext || tag(16).
bool SealSecret(const std::vector<uint8_t>& plain, const std::string& binding,
                std::vector<uint8_t>* sealed);
// Reverses SealSecret; false when the data was altered, bound to another slot
// or sealed under another user's secret.
bool OpenSealed(const std::vector<uint8_t>& sealed, const std::string& binding,
                std::vector<uint8_t>* plain);

// Path of the secret file for the current home.
std::string SealingKeyPath();

}  // namespace kv::platform::crypt
