// Streamed Ed25519ph over a file's bytes (libsodium).
#include "file_signature.h"

#include <sodium.h>

#include <vector>

#include "file_signature_hash.h"
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

}  // namespace

bool file_signature_hash(const std::string& path, crypto_sign_state& state) {
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
  // No sodium_init: checking runs only SHA-512 and the Ed25519 group
  // arithmetic, each of which has one implementation that needs nothing set
  // up, while sodium_init would link every implementation it chooses among
  // and the random source, some 100 KB, into the update client.
  crypto_sign_state state;
  crypto_sign_init(&state);
  if (!file_signature_hash(path, state)) return false;
  return crypto_sign_final_verify(&state, signature.data(), key.data()) == 0;
}
