// The maker's signing tool for signed updates (native, libsodium).
//
//   update_sign keygen <secret-file>      makes a key pair: the secret key
//       goes into a new file that only its owner may read, the public key
//       (the UPDATE_PUBLIC_KEY build option) is printed
//   update_sign sign <secret-file> <file> prints the file's signature, the
//       value of "signature" in the server's reply that offers it
//   update_sign verify <public-key> <file> <signature>
//       exit code 0 when the signature checks
//
// The secret-key file holds one line of 128 hexadecimal digits: libsodium's
// secret key, the 32-byte seed followed by its 32-byte public key. Errors
// are one line on stderr and exit code 1; usage errors exit with 2.
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "file_signature.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "update_sign: %s\n", message.c_str());
  return 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: update_sign keygen <secret-file>\n"
               "       update_sign sign <secret-file> <file>\n"
               "       update_sign verify <public-key> <file> <signature>\n");
  return 2;
}

bool all_hex(const std::string& text) {
  return text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Reads one key text of 2 * size digits; the error message otherwise.
std::string parse_key(const std::string& what, const std::string& text, unsigned char* out,
                      std::size_t size) {
  if (!all_hex(text)) return what + " is malformed: hexadecimal digits expected";
  if (text.size() != 2 * size) {
    return what + " has the wrong length: " + std::to_string(text.size()) +
           " hexadecimal digits, " + std::to_string(2 * size) + " expected";
  }
  hex_decode(text, out, size);
  return {};
}

// A file that is not a readable regular file, in the tool's words.
std::string unreadable(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return path + ": not a regular file";
  return path + ": cannot be read";
}

std::string read_secret_key(const std::string& path, signature_secret_key& key) {
  std::ifstream in(path, std::ios::binary);
  struct stat info;
  if (!in || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return unreadable(path);
  std::ostringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  // One line: a final line break (CR LF too) is allowed, nothing else.
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  std::string error = parse_key("secret key in " + path, text, key.data(), key.size());
  if (!error.empty()) return error;
  if (!signature_secret_key_consistent(key)) {
    return "secret key in " + path + " is malformed: its public half does not match its seed";
  }
  return {};
}

int keygen(const std::string& path) {
  signature_public_key public_key;
  signature_secret_key secret_key;
  crypto_sign_keypair(public_key.data(), secret_key.data());
  const std::string line = hex_encode(secret_key.data(), secret_key.size()) + "\n";
  sodium_memzero(secret_key.data(), secret_key.size());
  // Created new, owner-only from the first byte: never over an existing key,
  // never through a link.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return fail(path + ": " + std::strerror(errno));
  const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    unlink(path.c_str());
    return fail(path + ": cannot be written");
  }
  std::printf("%s\n", hex_encode(public_key.data(), public_key.size()).c_str());
  return 0;
}

int sign(const std::string& key_path, const std::string& file) {
  signature_secret_key key;
  const std::string error = read_secret_key(key_path, key);
  if (!error.empty()) return fail(error);
  file_signature signature;
  const bool made = access(file.c_str(), R_OK) == 0 && file_signature_make(file, key, signature);
  sodium_memzero(key.data(), key.size());
  if (!made) return fail(unreadable(file));
  std::printf("%s\n", hex_encode(signature.data(), signature.size()).c_str());
  return 0;
}

int verify(const std::string& key_text, const std::string& file, const std::string& text) {
  signature_public_key key;
  file_signature signature;
  std::string error = parse_key("public key", key_text, key.data(), key.size());
  if (error.empty()) error = parse_key("signature", text, signature.data(), signature.size());
  if (!error.empty()) return fail(error);
  struct stat info;
  if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(file.c_str(), R_OK) != 0) {
    return fail(unreadable(file));
  }
  if (!file_signature_check(file, key, signature)) return fail(file + ": signature does not match");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (sodium_init() < 0) return fail("libsodium cannot start");
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "keygen" && argc == 3) return keygen(argv[2]);
  if (command == "sign" && argc == 4) return sign(argv[2], argv[3]);
  if (command == "verify" && argc == 5) return verify(argv[2], argv[3], argv[4]);
  return usage();
}
