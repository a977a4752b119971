// The signature check of the programs that the update server offers (the
// module and the product update). A build with a public key compiled in
// (build option UPDATE_PUBLIC_KEY) starts only a download whose "signature"
// value from the server's reply checks against that key; a build without a
// key checks nothing and reads no "signature" value.
#pragma once

#include <string>

#include "download.h"

// Whether this build checks offered programs.
bool offer_signature_required();

// The check that download_to_file applies to an offered program before it
// becomes "vantrel.exe": none in a build without a key; otherwise a file
// passes only when signature (the reply's text, see file_signature.h) is
// its signature under the compiled-in key.
download_check offer_check(const std::string& signature);

// The two variants below, one linked into each program (see CMakeLists).
// True when the file at path checks against signature under the build's key;
// false in a build without a key.
bool offer_signature_valid(const std::string& path, const std::string& signature);
