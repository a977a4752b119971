// Streamed Ed25519ph over a file's bytes (libsodium).
#include "file_signature.h"

#include <sodium.h>

#include <vector>

#include "platform_file.h"

namespace {

// Bounds the memory of a check whatever the file's size.
constexpr std::size_t chunk_bytes = 64 * 1024;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Feeds the whole file into state; false when it cannot be opened or read.
bool hash_file(const std::string& path, crypto_sign_state& state) {
  // Deletable meanwhile: the end of the downloads removes a download's
  // temporary file even while it is checked.
  platform_file file = platform_file::open(path, platform_file::mode::read_deletable);
  if (!file.valid()) return false;
  const std::int64_t expected = file.size();
  if (expected < 0) return false;
  std::vector<unsigned char> buffer(chunk_bytes);
  std::int64_t total = 0;
  for (;;) {
    const std::size_t got = file.read(buffer.data(), buffer.size());
    if (got == 0) break;
    crypto_sign_update(&state, buffer.data(), got);
    total += static_cast<std::int64_t>(got);
  }
  // read() gives 0 at the end and on an error alike: a short count is an
  // error, never a shorter file that happens to check.
  return total == expected;
}

}  // namespace

bool hex_decode(const std::string& text, unsigned char* out, std::size_t size) {
  if (text.size() != 2 * size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = hex_value(text[2 * i]);
    const int low = hex_value(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

std::string hex_encode(const unsigned char* data, std::size_t size) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

bool file_signature_check(const std::string& path, const signature_public_key& key,
                          const file_signature& signature) {
  if (sodium_init() < 0) return false;
  crypto_sign_state state;
  crypto_sign_init(&state);
  if (!hash_file(path, state)) return false;
  return crypto_sign_final_verify(&state, signature.data(), key.data()) == 0;
}

bool file_signature_make(const std::string& path, const signature_secret_key& key,
                         file_signature& signature) {
  if (sodium_init() < 0) return false;
  crypto_sign_state state;
  crypto_sign_init(&state);
  if (!hash_file(path, state)) return false;
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
