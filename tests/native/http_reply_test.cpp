// The HTTP/1.x reply reader and addresses: tables of whole replies and of
// near misses, each fed whole and byte by byte.
#include "http_reply.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using verdict = http_reply_reader::verdict;

struct collected : http_reply_reader::body_sink {
  std::string bytes;
  bool take(const char* data, std::size_t size) override {
    bytes.append(data, size);
    return true;
  }
};

struct result {
  verdict v;
  std::string body;
};

// Feeds reply in pieces of step bytes (0: whole), as the download does:
// on past a complete body up to the end of the stream (any byte more fails
// it), and no further than a failure or a redirect.
result read_reply(const std::string& reply, std::size_t step, std::int64_t max_body = 1 << 20) {
  collected sink;
  http_reply_reader reader(max_body, sink);
  verdict v = verdict::reading;
  const std::size_t piece = step == 0 ? reply.size() : step;
  auto going = [&v] { return v == verdict::reading || v == verdict::complete; };
  for (std::size_t at = 0; at < reply.size() && going(); at += piece) {
    v = reader.feed(reply.data() + at, std::min(piece, reply.size() - at));
  }
  if (going()) v = reader.end_of_stream();
  return {v, sink.bytes};
}

struct reply_case {
  const char* name;
  std::string reply;
  verdict expected;
  std::string body;
};

const std::string ok = "HTTP/1.1 200 OK\r\n";

std::vector<reply_case> reply_cases() {
  return {
      {"length", ok + "Content-Length: 5\r\n\r\nhello", verdict::complete, "hello"},
      {"length, LF only", "HTTP/1.0 200 OK\nContent-Length: 5\n\nhello", verdict::complete,
       "hello"},
      {"no reason", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nhi", verdict::complete, "hi"},
      {"empty", ok + "Content-Length: 0\r\n\r\n", verdict::complete, ""},
      {"same length twice", ok + "Content-Length: 2\r\ncontent-length: 2\r\n\r\nhi",
       verdict::complete, "hi"},
      {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1;x=y\r\n!\r\n0\r\n\r\n",
       verdict::complete, "hello!"},
      {"chunked, trailer", ok + "Transfer-Encoding: Chunked\r\n\r\n2\r\nhi\r\n0\r\nX: y\r\n\r\n",
       verdict::complete, "hi"},
      {"close-delimited", ok + "\r\nuntil the close", verdict::complete, "until the close"},
      {"interim 100 first", "HTTP/1.1 100 Continue\r\n\r\n" + ok + "Content-Length: 1\r\n\r\nx",
       verdict::complete, "x"},
      {"302 with location", "HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 3\r\n\r\nabc",
       verdict::redirect, ""},
      {"308 with location", "HTTP/1.1 308 Moved\r\nLocation: http://h/x\r\n\r\n", verdict::redirect,
       ""},
  };
}

std::vector<reply_case> failing_cases() {
  return {
      {"nothing", "", verdict::failed, ""},
      {"no status line", "500 Internal Server Error\r\nContent-Length: 2\r\n\r\nMZ",
       verdict::failed, ""},
      {"HTTP/0.9 body", "MZ\x90\x00", verdict::failed, ""},
      {"HTTP/2 status line", "HTTP/2 200\r\n\r\n", verdict::failed, ""},
      {"status of two digits", "HTTP/1.1 20 OK\r\n\r\n", verdict::failed, ""},
      {"cut in the head", ok + "Content-Length: 5\r\n", verdict::failed, ""},
      {"204", "HTTP/1.1 204 No Content\r\n\r\n", verdict::failed, ""},
      {"205", "HTTP/1.1 205 Reset Content\r\n\r\n", verdict::failed, ""},
      {"206", "HTTP/1.1 206 Partial\r\nContent-Length: 2\r\n\r\nMZ", verdict::failed, ""},
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", verdict::failed, ""},
      {"302 without location", "HTTP/1.1 302 Found\r\n\r\n", verdict::failed, ""},
      {"101", "HTTP/1.1 101 Switching\r\n\r\n", verdict::failed, ""},
      {"short of its length", ok + "Content-Length: 6\r\n\r\nhello", verdict::failed, "hello"},
      {"longer than its length", ok + "Content-Length: 4\r\n\r\nhello", verdict::failed, "hell"},
      {"length above 4 GiB", ok + "Content-Length: 4294967301\r\n\r\nhello", verdict::failed, ""},
      {"length beyond 64 bits", ok + "Content-Length: 99999999999999999999\r\n\r\nx",
       verdict::failed, ""},
      {"negative length", ok + "Content-Length: -1\r\n\r\nx", verdict::failed, ""},
      {"length with a sign", ok + "Content-Length: +1\r\n\r\nx", verdict::failed, ""},
      {"two lengths", ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nxy", verdict::failed, ""},
      {"length and chunked", ok + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n",
       verdict::failed, ""},
      {"gzip coding", ok + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", verdict::failed,
       ""},
      {"chunk size zz", ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\nMZ\r\n0\r\n\r\n",
       verdict::failed, ""},
      {"chunk cut", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhel", verdict::failed, "hel"},
      {"no last chunk", ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n", verdict::failed,
       "hi"},
      {"chunk longer than its size", ok + "Transfer-Encoding: chunked\r\n\r\n1\r\nhi\r\n0\r\n\r\n",
       verdict::failed, "h"},
      {"chunk size overflow", ok + "Transfer-Encoding: chunked\r\n\r\n10000000000000000\r\nx",
       verdict::failed, ""},
      {"bytes after the last chunk",
       ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n", verdict::failed, ""},
      {"folded header", ok + "X: a\r\n b\r\nContent-Length: 0\r\n\r\n", verdict::failed, ""},
      {"header without colon", ok + "nonsense\r\n\r\n", verdict::failed, ""},
      {"head over 64 KiB", ok + "X: " + std::string(70000, 'a') + "\r\n\r\n", verdict::failed, ""},
  };
}

TEST(HttpReply, WholeRepliesInEveryFramingAndPiecing) {
  for (const reply_case& c : reply_cases()) {
    for (std::size_t step : {0, 1, 3}) {
      const result r = read_reply(c.reply, step);
      EXPECT_EQ(r.v, c.expected) << c.name << ", pieces of " << step;
      EXPECT_EQ(r.body, c.body) << c.name << ", pieces of " << step;
    }
  }
}

TEST(HttpReply, EveryNearMissFails) {
  for (const reply_case& c : failing_cases()) {
    for (std::size_t step : {0, 1, 3}) {
      const result r = read_reply(c.reply, step);
      EXPECT_EQ(r.v, verdict::failed) << c.name << ", pieces of " << step;
    }
  }
}

// Every strict prefix of a framed reply is a failure at the end of stream.
TEST(HttpReply, EveryPrefixOfAFramedReplyFails) {
  const std::vector<std::string> replies = {
      ok + "Content-Length: 5\r\n\r\nhello",
      ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1\r\n!\r\n0\r\n\r\n",
  };
  for (const std::string& reply : replies) {
    for (std::size_t cut = 0; cut < reply.size(); ++cut) {
      EXPECT_EQ(read_reply(reply.substr(0, cut), 0).v, verdict::failed) << reply << " at " << cut;
    }
    EXPECT_EQ(read_reply(reply, 0).v, verdict::complete);
  }
}

TEST(HttpReply, BodyBoundStopsAsSoonAsPassed) {
  EXPECT_EQ(read_reply(ok + "Content-Length: 5\r\n\r\nhello", 0, 5).v, verdict::complete);
  // A declared length over the bound fails before a byte of the body.
  const result declared = read_reply(ok + "Content-Length: 6\r\n\r\nhello!", 1, 5);
  EXPECT_EQ(declared.v, verdict::failed);
  EXPECT_EQ(declared.body, "");
  const result chunk = read_reply(ok + "Transfer-Encoding: chunked\r\n\r\n6\r\nhello!", 1, 5);
  EXPECT_EQ(chunk.v, verdict::failed);
  EXPECT_EQ(chunk.body, "");
  // Without a length: the body handed on never passes the bound.
  const result open = read_reply(ok + "\r\n" + std::string(100, 'x'), 7, 50);
  EXPECT_EQ(open.v, verdict::failed);
  EXPECT_LE(open.body.size(), 50u);
}

TEST(HttpAddress, ParsesHttpAndHttpsOnly) {
  struct good_case {
    const char* url;
    bool secure;
    const char* host;
    int port;
    const char* target;
  };
  const good_case good[] = {
      {"http://127.0.0.1:8631/tessarin/update.php?version=&os=windows", false, "127.0.0.1", 8631,
       "/tessarin/update.php?version=&os=windows"},
      {"HTTP://Host", false, "Host", 80, "/"},
      {"https://h.example/x#frag", true, "h.example", 443, "/x"},
      {"http://h?q", false, "h", 80, "/?q"},
      {"http://[::1]:8080/a", false, "::1", 8080, "/a"},
      // Bytes that would end the request line or start a header go as %XX.
      {"http://h/a b?v=1 2", false, "h", 80, "/a%20b?v=1%202"},
      {"http://h/a\r\nX: y", false, "h", 80, "/a%0D%0AX:%20y"},
      {"http://h/r\xE8gle", false, "h", 80, "/r\xE8gle"},
  };
  for (const auto& g : good) {
    http_address a;
    ASSERT_TRUE(http_address::parse(g.url, a)) << g.url;
    EXPECT_EQ(a.secure, g.secure) << g.url;
    EXPECT_EQ(a.host, g.host) << g.url;
    EXPECT_EQ(a.port, g.port) << g.url;
    EXPECT_EQ(a.target, g.target) << g.url;
  }
  const char* bad[] = {"",
                       "ftp://h/x",
                       "file:///etc/passwd",
                       "http://",
                       "http://:80/",
                       "http://h:0/",
                       "http://h:65536/",
                       "http://h:/",
                       "http://u@h/",
                       "http://h x/",
                       "http://h\r\n/",
                       "127.0.0.1/ok",
                       "http://[::1/",
                       "http://h:80x/"};
  for (const char* url : bad) {
    http_address a;
    EXPECT_FALSE(http_address::parse(url, a)) << url;
  }
}

TEST(HttpAddress, RedirectTargetsResolveAgainstTheAnswer) {
  http_address base;
  ASSERT_TRUE(http_address::parse("http://h:81/files/a/setup.exe?x=1", base));
  struct resolve_case {
    const char* location;
    const char* url;  // nullptr: refused
  };
  const resolve_case cases[] = {
      {"/other", "http://h:81/other"},
      {"next.exe", "http://h:81/files/a/next.exe"},
      {"?y=2", "http://h:81/files/a/setup.exe?y=2"},
      {"//g/x", "http://g/x"},
      {"https://g:8443/y", "https://g:8443/y"},
      {"ftp://g/y", nullptr},
      {"file:///c:/x", nullptr},
      {"javascript:x", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    http_address out;
    const bool resolved = http_resolve_location(base, c.location, out);
    EXPECT_EQ(resolved, c.url != nullptr) << c.location;
    if (resolved && c.url) {
      http_address expected;
      ASSERT_TRUE(http_address::parse(c.url, expected));
      EXPECT_EQ(out.secure, expected.secure) << c.location;
      EXPECT_EQ(out.host, expected.host) << c.location;
      EXPECT_EQ(out.port, expected.port) << c.location;
      EXPECT_EQ(out.target, expected.target) << c.location;
    }
  }
}

}  // namespace
