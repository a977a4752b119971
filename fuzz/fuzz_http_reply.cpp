// Fuzz target for the HTTP/1.x reply reader and the address parser: the
// first byte picks the piece size the reply is fed in and a small body
// bound; the rest is the reply, and also an address and a redirect target.
// The reader must never hand on more than its bound, nor anything for a
// reply that is not a 200, and must reach a verdict at the end of stream.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http_reply.h"

namespace {

struct counting_sink : http_reply_reader::body_sink {
  std::int64_t total = 0;
  bool take(const char*, std::size_t size) override {
    total += static_cast<std::int64_t>(size);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 17;
  const std::int64_t bound = data[0] & 0x80 ? 64 : 1 << 20;
  const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);

  counting_sink sink;
  http_reply_reader reader(bound, sink);
  using verdict = http_reply_reader::verdict;
  verdict v = verdict::reading;
  for (std::size_t at = 0; at < reply.size(); at += piece) {
    if (v != verdict::reading && v != verdict::complete) break;
    v = reader.feed(reply.data() + at, std::min(piece, reply.size() - at));
  }
  if (v == verdict::reading || v == verdict::complete) v = reader.end_of_stream();
  if (v == verdict::reading) std::abort();
  if (sink.total > bound) std::abort();
  if (sink.total > 0 && reader.status() != 200) std::abort();

  http_address address;
  if (http_address::parse(reply, address)) {
    if (address.target.empty() || address.target[0] != '/') std::abort();
    if (address.port < 1 || address.port > 65535) std::abort();
    http_address next;
    http_resolve_location(address, reply.substr(reply.size() / 2), next);
    http_request(address, "fuzz");
  }
  return 0;
}
