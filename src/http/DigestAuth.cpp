#include "DigestAuth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "AsciiCase.h"

namespace {

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken68Char(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("-._~+/").find(c) != std::string_view::npos;
}

// Reads the challenges of one field value from left to right; every step
// moves on by at least one byte, so a value of n bytes takes at most n steps.
class TChallengeReader {
 public:
  explicit TChallengeReader(std::string_view text) : text_(text) {}

  std::vector<TAuthChallenge> ReadAll() {
    std::vector<TAuthChallenge> challenges;
    while (challenges.size() < kMaxAuthChallenges) {
      SkipSpacesAndCommas();
      if (AtEnd()) break;
      std::string_view scheme = Token();
      if (scheme.empty()) {
        SkipJunk();  // no challenge starts here
        continue;
      }
      TAuthChallenge& challenge = challenges.emplace_back();
      challenge.Scheme = LowerAscii(scheme);
      ReadCredentials(challenge);
    }
    return challenges;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipSpaces() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t')) ++pos_;
  }

  void SkipSpacesAndCommas() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == ',')) ++pos_;
  }

  // Up to the next comma outside a quoted string.
  void SkipJunk() {
    while (!AtEnd() && Peek() != ',') {
      if (Peek() == '"') {
        QuotedString();
      } else {
        ++pos_;
      }
    }
  }

  std::string_view Token() {
    std::size_t start = pos_;
    while (!AtEnd() && IsTokenChar(Peek())) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  // At the opening quote; an unclosed string runs to the end of the value.
  std::string QuotedString() {
    std::string value;
    ++pos_;
    while (!AtEnd()) {
      char c = text_[pos_++];
      if (c == '"') break;
      if (c == '\\') {
        if (AtEnd()) break;  // a lone backslash at the end escapes nothing
        c = text_[pos_++];
      }
      value += c;
    }
    return value;
  }

  // The length of a token68 at the reading position when one stands there
  // alone (up to a comma or the end); 0 otherwise.
  std::size_t Token68Length() const {
    std::size_t end = pos_;
    while (end < text_.size() && IsToken68Char(text_[end])) ++end;
    if (end == pos_) return 0;
    while (end < text_.size() && text_[end] == '=') ++end;
    std::size_t length = end - pos_;
    while (end < text_.size() && (text_[end] == ' ' || text_[end] == '\t')) ++end;
    return end == text_.size() || text_[end] == ',' ? length : 0;
  }

  // What follows the scheme: nothing, a token68 or parameters.
  void ReadCredentials(TAuthChallenge& challenge) {
    if (!AtEnd() && Peek() != ' ' && Peek() != '\t' && Peek() != ',') {
      SkipJunk();  // the scheme runs into something that is no token
      return;
    }
    SkipSpaces();
    if (AtEnd() || Peek() == ',') return;
    if (std::size_t length = Token68Length()) {
      challenge.Token68 = text_.substr(pos_, length);
      pos_ += length;
      return;
    }
    ReadParams(challenge);
  }

  // Parameters up to the end, or up to the first item after a comma that
  // is no "name=": the scheme of the next challenge.
  void ReadParams(TAuthChallenge& challenge) {
    for (bool first = true;; first = false) {
      std::size_t itemStart = pos_;
      std::string_view name = Token();
      SkipSpaces();
      if (name.empty() || AtEnd() || Peek() != '=') {
        if (!first) {
          pos_ = itemStart;
          return;
        }
        SkipJunk();
      } else {
        ++pos_;
        SkipSpaces();
        std::string value = !AtEnd() && Peek() == '"' ? QuotedString() : std::string(Token());
        if (challenge.Params.size() < kMaxAuthParams) {
          challenge.Params.emplace_back(LowerAscii(name), std::move(value));
        }
        SkipSpaces();
        if (!AtEnd() && Peek() != ',') SkipJunk();
      }
      SkipSpacesAndCommas();
      if (AtEnd()) return;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

struct TAlgorithmName {
  const char* Name;
  TDigestAlgorithm Algorithm;
};

constexpr TAlgorithmName kAlgorithms[] = {
    {"MD5", TDigestAlgorithm::Md5},
    {"SHA-256", TDigestAlgorithm::Sha256},
    {"SHA-512-256", TDigestAlgorithm::Sha512_256},
};

// Sets the algorithm and the session flag from the parameter's value;
// false when the algorithm is none of these.
bool ReadAlgorithm(std::string_view value, TDigestChallenge& digest) {
  constexpr std::string_view kSession = "-sess";
  digest.Session = value.size() > kSession.size() &&
                   EqualIgnoringAsciiCase(value.substr(value.size() - kSession.size()), kSession);
  if (digest.Session) value.remove_suffix(kSession.size());
  for (const TAlgorithmName& known : kAlgorithms) {
    if (EqualIgnoringAsciiCase(value, known.Name)) {
      digest.Algorithm = known.Algorithm;
      return true;
    }
  }
  return false;
}

const char* AlgorithmName(TDigestAlgorithm algorithm) {
  for (const TAlgorithmName& known : kAlgorithms) {
    if (known.Algorithm == algorithm) return known.Name;
  }
  return "MD5";
}

// Whether the qop list ("auth,auth-int") offers "auth".
bool OffersQopAuth(std::string_view list) {
  for (;;) {
    std::size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (EqualIgnoringAsciiCase(item, "auth")) return true;
    if (comma == std::string_view::npos) return false;
    list.remove_prefix(comma + 1);
  }
}

const EVP_MD* DigestOf(TDigestAlgorithm algorithm) {
  switch (algorithm) {
    case TDigestAlgorithm::Md5: return EVP_md5();
    case TDigestAlgorithm::Sha256: return EVP_sha256();
    case TDigestAlgorithm::Sha512_256: return EVP_sha512_256();
  }
  return nullptr;
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0f];
  }
  return hex;
}

// The hash of the parts joined by colons, in lower-case hex; empty when
// libcrypto fails.
std::string HashOf(TDigestAlgorithm algorithm, std::initializer_list<std::string_view> parts) {
  std::string joined;
  bool first = true;
  for (std::string_view part : parts) {
    if (!first) joined += ':';
    first = false;
    joined += part;
  }
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const EVP_MD* md = DigestOf(algorithm);
  if (!md || EVP_Digest(joined.data(), joined.size(), hash, &length, md, nullptr) != 1) return {};
  return Hex(hash, length);
}

// Whether a text may stand inside a quoted value of the field: no control
// characters (tab aside), so that nothing can end the line or the field.
bool IsQuotableText(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f;
  });
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

std::string NonceCountText(unsigned nonceCount) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", nonceCount & 0xffffffffu);
  return text;
}

// The response digest of RFC 7616 section 3.4.1 (with qop) or of RFC 2069
// (without); empty when hashing fails.
std::string ResponseOf(const TDigestChallenge& challenge, std::string_view user,
                       std::string_view password, std::string_view method,
                       std::string_view requestTarget, std::string_view cnonce,
                       std::string_view nc) {
  TDigestAlgorithm algorithm = challenge.Algorithm;
  std::string ha1 = HashOf(algorithm, {user, challenge.Realm, password});
  if (challenge.Session && !ha1.empty()) ha1 = HashOf(algorithm, {ha1, challenge.Nonce, cnonce});
  std::string ha2 = HashOf(algorithm, {method, requestTarget});
  if (ha1.empty() || ha2.empty()) return {};
  if (!challenge.QopAuth) return HashOf(algorithm, {ha1, challenge.Nonce, ha2});
  return HashOf(algorithm, {ha1, challenge.Nonce, nc, cnonce, "auth", ha2});
}

}  // namespace

const std::string* TAuthChallenge::Param(std::string_view name) const {
  for (const auto& [paramName, value] : Params) {
    if (paramName == name) return &value;
  }
  return nullptr;
}

std::vector<TAuthChallenge> ParseAuthChallenges(std::string_view headerValue) {
  return TChallengeReader(headerValue).ReadAll();
}

std::optional<TDigestChallenge> DigestChallengeOf(const TAuthChallenge& challenge) {
  if (challenge.Scheme != "digest") return std::nullopt;
  const std::string* nonce = challenge.Param("nonce");
  if (!nonce) return std::nullopt;
  TDigestChallenge digest;
  digest.Nonce = *nonce;
  if (const std::string* realm = challenge.Param("realm")) digest.Realm = *realm;
  if (const std::string* opaque = challenge.Param("opaque")) digest.Opaque = *opaque;
  if (const std::string* algorithm = challenge.Param("algorithm")) {
    if (!ReadAlgorithm(*algorithm, digest)) return std::nullopt;
    digest.AlgorithmNamed = true;
  }
  if (const std::string* qop = challenge.Param("qop")) {
    if (!OffersQopAuth(*qop)) return std::nullopt;
    digest.QopAuth = true;
  }
  // The session algorithms need the client's cnonce, which goes only with qop.
  if (digest.Session && !digest.QopAuth) return std::nullopt;
  auto isTrue = [&](std::string_view name) {
    const std::string* value = challenge.Param(name);
    return value && EqualIgnoringAsciiCase(*value, "true");
  };
  digest.Stale = isTrue("stale");
  digest.UserHash = isTrue("userhash");
  const std::string* charset = challenge.Param("charset");
  digest.Utf8 = charset && EqualIgnoringAsciiCase(*charset, "UTF-8");
  return digest;
}

std::string DigestAuthorization(const TDigestChallenge& challenge, std::string_view user,
                                std::string_view password, std::string_view method,
                                std::string_view requestTarget, std::string_view cnonce,
                                unsigned nonceCount) {
  bool methodIsToken = !method.empty() && std::all_of(method.begin(), method.end(), IsTokenChar);
  std::string opaque = challenge.Opaque.value_or("");
  std::string_view quoted[] = {user, challenge.Realm, challenge.Nonce, requestTarget, cnonce,
                               opaque};
  if (!methodIsToken || !std::all_of(std::begin(quoted), std::end(quoted), IsQuotableText)) {
    return {};
  }
  if (challenge.QopAuth && cnonce.empty()) return {};
  std::string nc = NonceCountText(nonceCount);
  std::string response =
      ResponseOf(challenge, user, password, method, requestTarget, cnonce, nc);
  std::string username = challenge.UserHash ? HashOf(challenge.Algorithm, {user, challenge.Realm})
                                            : std::string(user);
  if (response.empty() || (challenge.UserHash && username.empty())) return {};

  std::string value = "Digest username=" + Quoted(username);
  value += ", realm=" + Quoted(challenge.Realm);
  value += ", nonce=" + Quoted(challenge.Nonce);
  value += ", uri=" + Quoted(requestTarget);
  if (challenge.AlgorithmNamed) {
    value += ", algorithm=" + std::string(AlgorithmName(challenge.Algorithm));
    if (challenge.Session) value += "-sess";
  }
  value += ", response=" + Quoted(response);
  if (challenge.QopAuth) value += ", qop=auth, nc=" + nc + ", cnonce=" + Quoted(cnonce);
  if (challenge.Opaque) value += ", opaque=" + Quoted(*challenge.Opaque);
  if (challenge.UserHash) value += ", userhash=true";
  return value;
}

std::string NewCnonce() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("libcrypto has no random bytes");
  return Hex(bytes, sizeof bytes);
}
