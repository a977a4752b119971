// HTTP/1.x addresses, requests and the reply reader.
#include "http_reply.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// A status line and headers longer than this are no reply of our servers.
constexpr std::size_t max_head_bytes = 64 * 1024;
// Chunk-size and trailer lines.
constexpr std::size_t max_line_bytes = 4 * 1024;

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_text(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

bool starts_with_text(const std::string& text, const char* head) {
  std::size_t i = 0;
  for (; head[i] != '\0'; ++i) {
    if (i >= text.size() || lower(text[i]) != lower(head[i])) return false;
  }
  return true;
}

std::string trimmed(const std::string& text) {
  std::size_t start = 0, end = text.size();
  while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(start, end - start);
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool is_token_char(char c) {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (is_digit(c)) return true;
  return std::string("!#$%&'*+-.^_`|~").find(c) != std::string::npos;
}

// Non-negative decimal that fits 63 bits; false otherwise.
bool parse_length(const std::string& text, std::int64_t& value) {
  if (text.empty()) return false;
  std::int64_t result = 0;
  for (char c : text) {
    if (!is_digit(c)) return false;
    const int digit = c - '0';
    if (result > (INT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}

// A host and port without bytes that would break the request.
bool fits_request_line(const std::string& text) {
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

// The target as it can go on the request line: spaces and control bytes,
// which would end the line or start a header, as %XX; the rest as written.
std::string escaped_target(const std::string& target) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : target) {
    if (c <= 0x20 || c == 0x7F) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool is_redirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The folder part of a target ("/a/b?q" gives "/a/").
std::string target_folder(const std::string& target) {
  const std::string path = target.substr(0, target.find('?'));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1);
}

}  // namespace

bool http_address::parse(const std::string& url, http_address& out) {
  std::string rest;
  http_address address;
  if (starts_with_text(url, "http://")) {
    rest = url.substr(7);
    address.port = 80;
  } else if (starts_with_text(url, "https://")) {
    rest = url.substr(8);
    address.secure = true;
    address.port = 443;
  } else {
    return false;
  }
  rest = rest.substr(0, rest.find('#'));
  const std::size_t authority_end = rest.find_first_of("/?");
  const std::string authority = rest.substr(0, authority_end);
  address.target =
      authority_end == std::string::npos ? "/" : escaped_target(rest.substr(authority_end));
  if (address.target[0] == '?') address.target = "/" + address.target;
  if (!fits_request_line(authority) || authority.find('@') != std::string::npos) return false;

  std::string port_text;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos || close == 1) return false;
    address.host = authority.substr(1, close - 1);
    if (address.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
      return false;
    }
    const std::string after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return false;
      port_text = after.substr(1);
      if (port_text.empty()) return false;
    }
  } else {
    const std::size_t colon = authority.find(':');
    address.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      port_text = authority.substr(colon + 1);
      if (port_text.empty()) return false;
    }
    if (address.host.empty()) return false;
    for (char c : address.host) {
      if (!(is_token_char(c) && c != '%' && c != '&' && c != '\'' && c != '*')) return false;
    }
  }
  if (!port_text.empty()) {
    std::int64_t port = 0;
    if (port_text.size() > 5 || !parse_length(port_text, port) || port < 1 || port > 65535) {
      return false;
    }
    address.port = static_cast<int>(port);
  }
  out = address;
  return true;
}

std::string http_address::host_header() const {
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about
  // "[" + host, a false alarm that warnings as errors would make fatal.
  const bool literal = host.find(':') != std::string::npos;
  std::string text;
  if (literal) text += '[';
  text += host;
  if (literal) text += ']';
  if (port != (secure ? 443 : 80)) {
    text += ':';
    text += std::to_string(port);
  }
  return text;
}

bool http_resolve_location(const http_address& base, const std::string& location,
                           http_address& out) {
  const std::string text = trimmed(location);
  if (text.empty()) return false;
  if (starts_with_text(text, "http://") || starts_with_text(text, "https://")) {
    return http_address::parse(text, out);
  }
  // Another scheme ("ftp:", "file:"): a letter, then letters, digits, + - .
  // up to a colon that comes before any slash.
  const std::size_t colon = text.find(':');
  if (colon != std::string::npos && colon < text.find_first_of("/?#")) return false;
  if (text.rfind("//", 0) == 0) {
    return http_address::parse((base.secure ? "https:" : "http:") + text, out);
  }
  http_address resolved = base;
  std::string target;
  if (text[0] == '/') {
    target = text;
  } else if (text[0] == '?') {
    target = base.target.substr(0, base.target.find('?')) + text;
  } else {
    target = target_folder(base.target) + text;
  }
  resolved.target = escaped_target(target.substr(0, target.find('#')));
  out = resolved;
  return true;
}

std::string http_request(const http_address& address, const std::string& user_agent) {
  return "GET " + address.target + " HTTP/1.1\r\nHost: " + address.host_header() +
         "\r\nUser-Agent: " + user_agent +
         "\r\nAccept: */*\r\nAccept-Encoding: identity\r\nCache-Control: no-cache\r\n"
         "Pragma: no-cache\r\nConnection: close\r\n\r\n";
}

// ---- the reply reader ----------------------------------------------------------

bool http_reply_reader::line_complete(const char*& data, std::size_t& size, std::string& line) {
  const char* end = static_cast<const char*>(std::char_traits<char>::find(data, size, '\n'));
  const std::size_t take = end ? static_cast<std::size_t>(end - data) + 1 : size;
  line.append(data, take);
  data += take;
  size -= take;
  if (!end) return false;
  line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool http_reply_reader::take_status_line(const std::string& line) {
  // "HTTP/1.x NNN", then nothing or a space and the reason.
  if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 || !is_digit(line[7]) ||
      line[8] != ' ' || !is_digit(line[9]) || !is_digit(line[10]) || !is_digit(line[11])) {
    return false;
  }
  if (line.size() > 12 && line[12] != ' ') return false;
  status_ = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  return status_ >= 100;
}

bool http_reply_reader::take_header(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string name = line.substr(0, colon);
  if (!std::all_of(name.begin(), name.end(), is_token_char)) return false;
  const std::string value = trimmed(line.substr(colon + 1));
  if (same_text(name, "content-length")) {
    std::int64_t length = 0;
    if (!parse_length(value, length)) return false;
    if (content_length_ >= 0 && content_length_ != length) return false;
    content_length_ = length;
  } else if (same_text(name, "transfer-encoding")) {
    // Only chunked framing, once: we ask for no content coding.
    if (coding_seen_ || !same_text(value, "chunked")) return false;
    coding_seen_ = true;
    chunked_ = true;
  } else if (same_text(name, "location")) {
    location_ = value;
  }
  return true;
}

http_reply_reader::verdict http_reply_reader::head_ended() {
  if (status_ < 200) {
    // An interim reply (100 Continue, 103 Early Hints); the real one follows.
    // Switching protocols is not something we asked for.
    if (status_ == 101) return fail();
    status_ = 0;
    location_.clear();
    content_length_ = -1;
    chunked_ = coding_seen_ = false;
    phase_ = phase::status_line;
    return verdict_;
  }
  if (is_redirect(status_) && !location_.empty()) return verdict_ = verdict::redirect;
  if (status_ != 200) return fail();
  if (chunked_) {
    if (content_length_ >= 0) return fail();  // contradictory framing
    phase_ = phase::chunk_size;
    return verdict_;
  }
  if (content_length_ >= 0) {
    if (content_length_ > max_body_) return fail();
    if (content_length_ == 0) {
      phase_ = phase::done;
      return verdict_ = verdict::complete;
    }
    phase_ = phase::body_length;
    return verdict_;
  }
  phase_ = phase::body_close;
  return verdict_;
}

bool http_reply_reader::deliver(const char* data, std::size_t size) {
  if (size == 0) return true;
  if (static_cast<std::uint64_t>(size) > static_cast<std::uint64_t>(max_body_ - body_received_)) {
    return false;
  }
  body_received_ += static_cast<std::int64_t>(size);
  return sink_.take(data, size);
}

http_reply_reader::verdict http_reply_reader::feed(const char* data, std::size_t size) {
  while (size > 0) {
    if (verdict_ == verdict::redirect) return verdict_;  // the body is not ours
    if (verdict_ != verdict::reading) return fail();     // bytes after a declared end
    switch (phase_) {
      case phase::status_line:
      case phase::headers: {
        const std::size_t size_before = size;
        const bool whole = line_complete(data, size, line_);
        head_bytes_ += size_before - size;
        if (head_bytes_ > max_head_bytes) return fail();
        // A reply that does not start as a status line is no HTTP/1.x reply;
        // say so at once rather than after the whole line.
        const std::size_t seen = std::min<std::size_t>(line_.size(), 7);
        if (phase_ == phase::status_line && line_.compare(0, seen, "HTTP/1.", seen) != 0) {
          return fail();
        }
        if (!whole) break;
        std::string line;
        line.swap(line_);
        if (phase_ == phase::status_line) {
          if (!take_status_line(line)) return fail();
          phase_ = phase::headers;
        } else if (line.empty()) {
          head_ended();
        } else if (line[0] == ' ' || line[0] == '\t' || !take_header(line)) {
          return fail();  // folded or malformed header
        }
        break;
      }
      case phase::body_length: {
        const std::int64_t left = content_length_ - body_received_;
        const std::size_t take =
            static_cast<std::uint64_t>(left) < size ? static_cast<std::size_t>(left) : size;
        if (!deliver(data, take)) return fail();
        data += take;
        size -= take;
        if (body_received_ == content_length_) {
          phase_ = phase::done;
          verdict_ = verdict::complete;
        }
        break;
      }
      case phase::body_close:
        if (!deliver(data, size)) return fail();
        size = 0;
        break;
      case phase::chunk_size:
      case phase::chunk_data_end:
      case phase::trailer: {
        const bool whole = line_complete(data, size, line_);
        if (line_.size() > max_line_bytes) return fail();
        if (!whole) break;
        std::string line;
        line.swap(line_);
        if (phase_ == phase::chunk_data_end) {
          if (!line.empty()) return fail();
          phase_ = phase::chunk_size;
        } else if (phase_ == phase::trailer) {
          head_bytes_ += line.size() + 2;
          if (head_bytes_ > max_head_bytes) return fail();
          if (line.empty()) {
            phase_ = phase::done;
            verdict_ = verdict::complete;
          }
        } else {
          // chunk-size [ chunk-ext ]: hex digits, then nothing or ";...".
          std::size_t i = 0;
          std::uint64_t chunk = 0;
          for (; i < line.size() && hex_value(line[i]) >= 0; ++i) {
            if (chunk >> 60) return fail();
            chunk = chunk * 16 + static_cast<std::uint64_t>(hex_value(line[i]));
          }
          if (i == 0) return fail();
          while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
          if (i < line.size() && line[i] != ';') return fail();
          if (chunk > static_cast<std::uint64_t>(max_body_ - body_received_)) return fail();
          chunk_left_ = chunk;
          phase_ = chunk == 0 ? phase::trailer : phase::chunk_data;
        }
        break;
      }
      case phase::chunk_data: {
        const std::size_t take = chunk_left_ < size ? static_cast<std::size_t>(chunk_left_) : size;
        if (!deliver(data, take)) return fail();
        data += take;
        size -= take;
        chunk_left_ -= take;
        if (chunk_left_ == 0) phase_ = phase::chunk_data_end;
        break;
      }
      case phase::done:
        return fail();
    }
    if (verdict_ == verdict::failed) return verdict_;
  }
  return verdict_;
}

http_reply_reader::verdict http_reply_reader::end_of_stream() {
  if (verdict_ != verdict::reading) return verdict_;
  if (phase_ == phase::body_close) return verdict_ = verdict::complete;
  return fail();
}
