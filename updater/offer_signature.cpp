// The check of an offered download, when the build has a key.
#include "offer_signature.h"

download_check offer_check(const std::string& signature) {
  if (!offer_signature_required()) return {};
  return [signature](const std::string& path) { return offer_signature_valid(path, signature); };
}
