// A build with a public key (UPDATE_PUBLIC_KEY, checked by CMake to be 64
// hexadecimal digits).
#include <string>

#include "file_signature.h"
#include "offer_signature.h"

#ifndef UPDATE_PUBLIC_KEY
#error "UPDATE_PUBLIC_KEY must name the key of this variant"
#endif

bool offer_signature_required() {
  return true;
}

bool offer_signature_valid(const std::string& path, const std::string& signature) {
  signature_public_key key;
  file_signature value;
  if (!hex_decode(UPDATE_PUBLIC_KEY, key.data(), key.size())) return false;
  if (!hex_decode(signature, value.data(), value.size())) return false;
  return file_signature_check(path, key, value);
}
