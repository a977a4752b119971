// HTTP/1.x on our side of the wire: the address of a download, the request
// that asks for it, and a reader that judges the reply byte by byte. Portable
// and pure (no I/O); both backends feed it what their connection receives,
// so the rules for a complete reply are the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// An http or https address, split. Parsing fails (parse returns false) on
// any other scheme, an empty or malformed host, a port outside 1 to 65535,
// or user information ("user@"). The target is the path and query as written
// ("/" when the address has none), but for spaces and control bytes, which
// cannot go on a request line and are sent as %XX; a fragment is dropped.
struct http_address {
  bool secure = false;
  std::string host;  // without brackets for an IPv6 literal
  int port = 0;
  std::string target;

  static bool parse(const std::string& url, http_address& out);
  std::string host_header() const;  // host, with ":port" when not the default
};

// The address a redirect's Location names, resolved against the address
// that answered: absolute (http/https only), scheme-relative ("//host/..."),
// absolute path or relative path. False when it names no usable address.
bool http_resolve_location(const http_address& base, const std::string& location,
                           http_address& out);

// The GET request for address: HTTP/1.1, the connection closed after the
// reply, no content coding asked for.
std::string http_request(const http_address& address, const std::string& user_agent);

// Reads one reply. Feed received bytes in order, then call end_of_stream()
// when the connection closed; feeding may go on after complete (a byte more
// then fails the reply). The verdict:
//   complete   a 200 reply whose body is whole: exactly Content-Length bytes
//              (read as 64 bits), or chunked framing ended by its last chunk
//              and trailer, or a body without either ended by the close;
//   redirect   a 301, 302, 303, 307 or 308 with a Location (the body is of no
//              interest: stop reading);
//   failed     anything else: no "HTTP/1.x NNN" status line, any other status
//              (204, 205 and 206 included), a head over 64 KiB, a malformed or
//              contradictory Content-Length, a transfer coding other than
//              chunked, both a length and chunked framing, a malformed chunk,
//              a body short of its length or its last chunk, bytes after the
//              end of a body whose end is declared, a body over max_body.
//   reading    more bytes are needed.
// A body that the reply does not frame (no length, no chunks) ends with the
// connection, and a cut short one looks the same as a whole one: no reader
// can judge it. Only a check of the content itself (a signature) closes
// that gap.
// Body bytes are handed to the sink as they arrive (never more than
// max_body in all); a sink that returns false fails the reply.
class http_reply_reader {
 public:
  enum class verdict { reading, complete, redirect, failed };

  class body_sink {
   public:
    virtual bool take(const char* data, std::size_t size) = 0;

   protected:
    ~body_sink() = default;
  };

  http_reply_reader(std::int64_t max_body, body_sink& sink) : max_body_(max_body), sink_(sink) {}

  verdict feed(const char* data, std::size_t size);
  verdict end_of_stream();
  verdict state() const { return verdict_; }

  int status() const { return status_; }
  const std::string& location() const { return location_; }
  // The declared length, -1 when the reply declares none.
  std::int64_t content_length() const { return content_length_; }
  std::int64_t body_received() const { return body_received_; }

 private:
  enum class phase {
    status_line,
    headers,
    body_length,
    body_close,
    chunk_size,
    chunk_data,
    chunk_data_end,
    trailer,
    done
  };

  verdict fail() { return verdict_ = verdict::failed; }
  bool line_complete(const char*& data, std::size_t& size, std::string& line);
  bool take_status_line(const std::string& line);
  bool take_header(const std::string& line);
  verdict head_ended();
  bool deliver(const char* data, std::size_t size);

  std::int64_t max_body_;
  body_sink& sink_;
  verdict verdict_ = verdict::reading;
  phase phase_ = phase::status_line;
  std::string line_;
  std::size_t head_bytes_ = 0;
  int status_ = 0;
  std::string location_;
  std::int64_t content_length_ = -1;
  bool chunked_ = false;
  bool coding_seen_ = false;
  std::int64_t body_received_ = 0;
  std::uint64_t chunk_left_ = 0;
};
