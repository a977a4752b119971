// Signatures of whole files: Ed25519ph (RFC 8032's pre-hashed Ed25519, the
// SHA-512 of the file signed with Ed25519) through libsodium's multi-part
// API, so a file of any size is read in a stream with a fixed buffer.
//
// Text forms, the same everywhere (build option, server replies, signing
// tool): a public key is 64 hexadecimal digits (32 bytes), a signature 128
// (64 bytes), either case, nothing before or after.
#pragma once

#include <array>
#include <cstddef>
#include <string>

using signature_public_key = std::array<unsigned char, 32>;
using signature_secret_key = std::array<unsigned char, 64>;  // seed, then the public key
using file_signature = std::array<unsigned char, 64>;

// Reads text made of exactly 2 * size hexadecimal digits into out; false,
// out unspecified, for anything else (wrong length, another character).
bool hex_decode(const std::string& text, unsigned char* out, std::size_t size);
std::string hex_encode(const unsigned char* data, std::size_t size);

// True when the file at path (relative to the current folder, backslashes
// as on Windows) could be read whole and signature is its Ed25519ph
// signature under key. False on any mismatch and when the file cannot be
// read. Any thread.
bool file_signature_check(const std::string& path, const signature_public_key& key,
                          const file_signature& signature);

// Signs the file at path with key into signature; false when the file
// cannot be read.
bool file_signature_make(const std::string& path, const signature_secret_key& key,
                         file_signature& signature);

// Whether secret holds a seed and the public key that belongs to it.
bool signature_secret_key_consistent(const signature_secret_key& secret);
