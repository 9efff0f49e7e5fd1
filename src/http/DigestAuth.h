// The challenges of WWW-Authenticate and Proxy-Authenticate fields, and the
// answer to a Digest challenge: the value of Authorization or
// Proxy-Authorization (RFC 7616, and the older forms of RFC 2617 and 2069
// that servers still send).
//
// A field may hold several challenges, separated by commas as their
// parameters are:
//
//   WWW-Authenticate: Basic realm="a, b", Digest realm="x", nonce="n",
//                     qop="auth,auth-int", Bearer, Negotiate YWJj==
//
// The reader takes any bytes: what does not fit the grammar is skipped up
// to the next comma, and the rest is read on.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Challenges read from one field, and parameters kept per challenge; the
// rest is read past and dropped.
constexpr std::size_t kMaxAuthChallenges = 16;
constexpr std::size_t kMaxAuthParams = 32;

struct TAuthChallenge {
  std::string Scheme;  // in lower case: "basic", "digest"
  // In the order sent; names in lower case, values without their quotes and
  // with backslash escapes undone.
  std::vector<std::pair<std::string, std::string>> Params;
  std::string Token68;  // "Negotiate YWJj==": "YWJj=="; empty when there are parameters

  // The value of the first parameter named `name` (lower case); nullptr when none.
  const std::string* Param(std::string_view name) const;
};

// Every challenge of a WWW-Authenticate or Proxy-Authenticate value, in the
// order sent; a server sending several fields gives one call per field.
std::vector<TAuthChallenge> ParseAuthChallenges(std::string_view headerValue);

enum class TDigestAlgorithm { Md5, Sha256, Sha512_256 };

struct TDigestChallenge {
  std::string Realm, Nonce;
  std::optional<std::string> Opaque;  // sent back as it came
  TDigestAlgorithm Algorithm = TDigestAlgorithm::Md5;
  // "-sess": the first hash also covers the nonce and the client's cnonce.
  bool Session = false;
  // The challenge named its algorithm (the answer then names it too).
  bool AlgorithmNamed = false;
  // The server offered qop "auth". False: it named no qop, and the answer
  // is RFC 2069's, without qop, nc and cnonce.
  bool QopAuth = false;
  bool Stale = false;     // the nonce ran out, the credentials were right: answer again
  bool UserHash = false;  // the user name is sent hashed with the realm
  // charset=UTF-8: the server takes user name and password as UTF-8; the
  // caller converts them before DigestAuthorization.
  bool Utf8 = false;
};

// The Digest challenge in `challenge`; nullopt when it is no Digest
// challenge, has no nonce, names an algorithm other than MD5, SHA-256 and
// SHA-512-256 (each also with "-sess"), offers only qop "auth-int"
// (requests here are answered with qop "auth" only), or asks for a "-sess"
// algorithm without qop. A missing realm counts as the empty one.
std::optional<TDigestChallenge> DigestChallengeOf(const TAuthChallenge& challenge);

// The value after "Authorization: " (or "Proxy-Authorization: ") for a
// request with `method` (GET, HEAD) to `requestTarget` (as in the request
// line: "/dir/index.html?x=1", or the absolute address through a proxy).
// `cnonce` comes from NewCnonce, once per nonce or per request;
// `nonceCount` counts the requests made with this nonce, from 1 (sent as 8
// hex digits). User name and password are taken as the bytes given.
// Empty when a text would carry a control character (CR, LF and NUL
// included) into the field, or when libcrypto does not compute the hash
// (MD5 in a FIPS setup, for example). Quotes and backslashes in quoted
// values are escaped.
std::string DigestAuthorization(const TDigestChallenge& challenge, std::string_view user,
                                std::string_view password, std::string_view method,
                                std::string_view requestTarget, std::string_view cnonce,
                                unsigned nonceCount);

// A new client nonce: 16 random bytes as 32 lower-case hex digits. Throws
// std::runtime_error when libcrypto has no random bytes.
std::string NewCnonce();
