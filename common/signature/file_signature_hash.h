// The stream of a file's bytes into an Ed25519ph state, shared by checking
// and signing.
#pragma once

#include <sodium.h>

#include <string>

// Feeds the whole file at path into state; false when it cannot be opened
// or read whole.
bool file_signature_hash(const std::string& path, crypto_sign_state& state);
