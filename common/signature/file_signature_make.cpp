// Signing with a secret key: the signing tool's half, apart from the check,
// so that the update client links no signing code.
#include <sodium.h>

#include "file_signature.h"
#include "file_signature_hash.h"

bool file_signature_make(const std::string& path, const signature_secret_key& key,
                         file_signature& signature) {
  if (sodium_init() < 0) return false;
  crypto_sign_state state;
  crypto_sign_init(&state);
  if (!file_signature_hash(path, state)) return false;
  return crypto_sign_final_create(&state, signature.data(), nullptr, key.data()) == 0;
}

bool signature_secret_key_consistent(const signature_secret_key& secret) {
  if (sodium_init() < 0) return false;
  signature_public_key derived;
  signature_secret_key again;
  const bool made = crypto_sign_seed_keypair(derived.data(), again.data(), secret.data()) == 0;
  sodium_memzero(again.data(), again.size());
  return made && sodium_memcmp(derived.data(), secret.data() + 32, derived.size()) == 0;
}
