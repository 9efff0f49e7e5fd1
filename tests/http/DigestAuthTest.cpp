#include "DigestAuth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SplitMix.h"

namespace {

using TParams = std::vector<std::pair<std::string, std::string>>;

// The challenge of RFC 7616 section 3.9.1, its lines joined.
const char kRfc7616Challenge[] =
    "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=ALGORITHM, "
    "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
    "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
const char kRfc7616Cnonce[] = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";

TDigestChallenge DigestOf(const std::string& field) {
  std::vector<TAuthChallenge> challenges = ParseAuthChallenges(field);
  EXPECT_EQ(challenges.size(), 1u) << field;
  std::optional<TDigestChallenge> digest =
      challenges.empty() ? std::nullopt : DigestChallengeOf(challenges[0]);
  EXPECT_TRUE(digest) << field;
  return digest.value_or(TDigestChallenge{});
}

TDigestChallenge Rfc7616Challenge(const std::string& algorithm) {
  std::string field = kRfc7616Challenge;
  field.replace(field.find("ALGORITHM"), 9, algorithm);
  return DigestOf(field);
}

std::string Rfc7616Answer(const std::string& algorithm, unsigned nc = 1) {
  return DigestAuthorization(Rfc7616Challenge(algorithm), "Mufasa", "Circle of Life", "GET",
                             "/dir/index.html", kRfc7616Cnonce, nc);
}

TEST(DigestAuth, AnswersTheExamplesOfTheRfcs) {
  EXPECT_EQ(Rfc7616Answer("MD5"),
            "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
            "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", "
            "algorithm=MD5, response=\"8ca523f5e9506fed4657c9700eebdbec\", qop=auth, "
            "nc=00000001, cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", "
            "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"");
  EXPECT_NE(Rfc7616Answer("SHA-256").find(
                "algorithm=SHA-256, "
                "response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\""),
            std::string::npos);

  // RFC 2617 section 3.5.
  TDigestChallenge rfc2617 = DigestOf(
      "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
      "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
  EXPECT_EQ(DigestAuthorization(rfc2617, "Mufasa", "Circle Of Life", "GET", "/dir/index.html",
                                "0a4f113b", 1),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
            "response=\"6629fae49393a05397450978507c4ef1\", qop=auth, nc=00000001, "
            "cnonce=\"0a4f113b\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");

  // RFC 2069's form, without qop: no nc and cnonce; the response follows
  // that RFC's rule for the values of its example.
  TDigestChallenge rfc2069 =
      DigestOf("Digest realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\"");
  EXPECT_EQ(
      DigestAuthorization(rfc2069, "Mufasa", "CircleOfLife", "GET", "/dir/index.html", "", 1),
      "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
      "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
      "response=\"1949323746fe6a43ef61f9606e7febea\"");
}

TEST(DigestAuth, SessionAlgorithmsAndSha512Truncated) {
  struct {
    const char* Algorithm;
    unsigned Nc;
    const char* Response;
  } rows[] = {
      {"MD5-sess", 2, "6914b51e16f9459d9abc967ad41c4599"},
      {"sha-256-SESS", 2, "6bb0010aa4bdf46422a798c509ea32e256f27bd37de5cc3bdf8ed51e1d77d650"},
      {"SHA-512-256-sess", 2, "3f0b079c78edc3f154dc32cd155ef358aab704e07c9fda1f425282a15cc97cf7"},
      {"SHA-512-256", 1, "430d05014cecc49cab6fbe03176d41a1da86cbfe24a16580e22aaad928d960d0"},
  };
  for (const auto& row : rows) {
    std::string answer = Rfc7616Answer(row.Algorithm, row.Nc);
    EXPECT_NE(answer.find(std::string("response=\"") + row.Response + "\""), std::string::npos)
        << row.Algorithm << ": " << answer;
  }
  // The algorithm is named back in its own spelling, the count in hex.
  EXPECT_NE(Rfc7616Answer("sha-256-SESS", 0x1af).find("algorithm=SHA-256-sess, "),
            std::string::npos);
  EXPECT_NE(Rfc7616Answer("MD5", 0x1af).find("nc=000001af"), std::string::npos);
}

TEST(DigestAuth, UserHashSendsTheHashOfUserAndRealm) {
  TDigestChallenge challenge = Rfc7616Challenge("SHA-256");
  challenge.UserHash = true;
  std::string answer = DigestAuthorization(challenge, "Mufasa", "Circle of Life", "GET",
                                           "/dir/index.html", kRfc7616Cnonce, 1);
  EXPECT_EQ(answer.rfind("Digest username=\"a947aad205e80e429958a387394944c6b496301e79f89d35a4cc2"
                         "3b6ee12b5b6\", ",
                         0),
            0u)
      << answer;
  EXPECT_NE(answer.find(", userhash=true"), std::string::npos);
  // The response itself is the one for the plain user name.
  EXPECT_NE(answer.find("753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"),
            std::string::npos);
}

TEST(DigestAuth, ChallengeParametersAreReadAsTheServerMeansThem) {
  TDigestChallenge digest = DigestOf(
      "DIGEST Realm=\"r\", NONCE=abc, stale=TRUE, userhash=true, charset=utf-8, "
      "algorithm=sha-256, opaque=\"\"");
  EXPECT_EQ(digest.Realm, "r");
  EXPECT_EQ(digest.Nonce, "abc");
  EXPECT_EQ(digest.Algorithm, TDigestAlgorithm::Sha256);
  EXPECT_TRUE(digest.Stale && digest.UserHash && digest.Utf8 && digest.AlgorithmNamed);
  EXPECT_FALSE(digest.QopAuth || digest.Session);
  EXPECT_EQ(digest.Opaque, "");  // present, though empty: sent back

  const char* refused[] = {
      "Basic realm=\"x\", nonce=\"n\"",
      "Digest realm=\"x\"",                             // no nonce
      "Digest nonce=\"n\", algorithm=SHA-1",            // unknown algorithm
      "Digest nonce=\"n\", algorithm=\"\"",
      "Digest nonce=\"n\", qop=\"auth-int\"",           // only integrity protection offered
      "Digest nonce=\"n\", algorithm=MD5-sess",         // a session without qop has no cnonce
  };
  for (const char* field : refused) {
    std::vector<TAuthChallenge> challenges = ParseAuthChallenges(field);
    ASSERT_EQ(challenges.size(), 1u) << field;
    EXPECT_FALSE(DigestChallengeOf(challenges[0])) << field;
  }
}

TEST(DigestAuth, ChallengeListsSplitWhereTheGrammarSays) {
  std::vector<TAuthChallenge> challenges = ParseAuthChallenges(
      "Basic realm=\"simple, really\", Digest realm=\"a\\\"b\\\\c\",nonce=n1 , "
      "qop=\"auth,auth-int\", Negotiate YWJj==, Bearer,NTLM, Newauth realm=\"apps\", type=1,"
      "  title=\"Login to \\\"apps\\\"\"");
  ASSERT_EQ(challenges.size(), 6u);
  EXPECT_EQ(challenges[0].Scheme, "basic");
  EXPECT_EQ(challenges[0].Params, (TParams{{"realm", "simple, really"}}));
  EXPECT_EQ(challenges[1].Scheme, "digest");
  EXPECT_EQ(challenges[1].Params,
            (TParams{{"realm", "a\"b\\c"}, {"nonce", "n1"}, {"qop", "auth,auth-int"}}));
  EXPECT_EQ(challenges[2].Scheme, "negotiate");
  EXPECT_EQ(challenges[2].Token68, "YWJj==");
  EXPECT_TRUE(challenges[2].Params.empty());
  EXPECT_EQ(challenges[3].Scheme, "bearer");
  EXPECT_EQ(challenges[4].Scheme, "ntlm");
  EXPECT_EQ(challenges[5].Params,
            (TParams{{"realm", "apps"}, {"type", "1"}, {"title", "Login to \"apps\""}}));
  EXPECT_EQ(*challenges[5].Param("title"), "Login to \"apps\"");
  EXPECT_EQ(challenges[5].Param("nonce"), nullptr);
}

TEST(DigestAuth, JunkInChallengesIsSkippedUpToTheNextComma) {
  struct {
    const char* Field;
    std::vector<std::string> Schemes;
    TParams LastParams;
  } rows[] = {
      {"", {}, {}},
      {" , ,, ", {}, {}},
      {"\"junk, still\", =, Digest nonce=\"x\"", {"digest"}, {{"nonce", "x"}}},
      {"Digest realm=\"x\" junk, nonce=y", {"digest"}, {{"realm", "x"}, {"nonce", "y"}}},
      {"Digest \"junk\", nonce=y", {"digest"}, {{"nonce", "y"}}},
      // An unclosed quote runs to the end.
      {"Digest realm=\"abc, nonce=y", {"digest"}, {{"realm", "abc, nonce=y"}}},
      {"Digest realm=\"abc\\", {"digest"}, {{"realm", "abc"}}},
      {"Basic\"x\", Digest nonce=1", {"basic", "digest"}, {{"nonce", "1"}}},
      {"Digest nonce=n, realm=", {"digest"}, {{"nonce", "n"}, {"realm", ""}}},
      // "realm=" alone is a token68 by the grammar, "nonce" a new scheme.
      {"Digest realm=, nonce==", {"digest", "nonce"}, {}},
      {"Digest a=b, c", {"digest", "c"}, {}},
  };
  for (const auto& row : rows) {
    std::vector<TAuthChallenge> challenges = ParseAuthChallenges(row.Field);
    std::vector<std::string> schemes;
    for (const TAuthChallenge& challenge : challenges) schemes.push_back(challenge.Scheme);
    EXPECT_EQ(schemes, row.Schemes) << row.Field;
    if (!challenges.empty()) {
      EXPECT_EQ(challenges.back().Params, row.LastParams) << row.Field;
    }
  }
}

TEST(DigestAuth, HostileFieldsAreReadWithinBounds) {
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "Basic, ";
  EXPECT_EQ(ParseAuthChallenges(many).size(), kMaxAuthChallenges);
  std::string params = "Digest ";
  for (int i = 0; i < 1000; ++i) params += "p" + std::to_string(i) + "=v, ";
  std::vector<TAuthChallenge> one = ParseAuthChallenges(params + "nonce=n");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].Params.size(), kMaxAuthParams);

  // Random fields made of the grammar's own characters: every challenge
  // has a scheme, and no value is longer than the field.
  const char kAlphabet[] = "Ab9 ,=\"\\\t-/\x00\xff\r\n";
  testsupport::SplitMix64 random(42);
  for (int round = 0; round < 20000; ++round) {
    std::string field(random.Below(40), ' ');
    for (char& c : field) c = kAlphabet[random.Below(sizeof kAlphabet - 1)];
    for (const TAuthChallenge& challenge : ParseAuthChallenges(field)) {
      ASSERT_FALSE(challenge.Scheme.empty()) << field;
      ASSERT_LE(challenge.Params.size(), kMaxAuthParams);
      for (const auto& [name, value] : challenge.Params) ASSERT_LE(value.size(), field.size());
      if (auto digest = DigestChallengeOf(challenge)) {
        DigestAuthorization(*digest, "u", "p", "GET", "/", "c", 1);
      }
    }
  }
}

TEST(DigestAuth, NoTextCanBreakOutOfTheField) {
  TDigestChallenge base = Rfc7616Challenge("MD5");
  auto answer = [&](TDigestChallenge challenge, std::string user, std::string method,
                    std::string target) {
    return DigestAuthorization(challenge, user, "pw", method, target, kRfc7616Cnonce, 1);
  };
  TDigestChallenge realm = base, nonce = base, opaque = base;
  realm.Realm += "\r\nX-Evil: 1";
  nonce.Nonce += std::string(1, '\0');
  opaque.Opaque = "a\nb";
  EXPECT_EQ(answer(realm, "u", "GET", "/"), "");
  EXPECT_EQ(answer(nonce, "u", "GET", "/"), "");
  EXPECT_EQ(answer(opaque, "u", "GET", "/"), "");
  EXPECT_EQ(answer(base, "u\r", "GET", "/"), "");
  EXPECT_EQ(answer(base, "u", "GET", "/\n"), "");
  EXPECT_EQ(answer(base, "u", "GE T", "/"), "");
  EXPECT_EQ(answer(base, "u", "", "/"), "");
  EXPECT_EQ(DigestAuthorization(base, "u", "pw", "GET", "/", "c\"\r", 1), "");
  // qop needs a cnonce.
  EXPECT_EQ(DigestAuthorization(base, "u", "pw", "GET", "/", "", 1), "");

  // Quotes and backslashes are escaped, and hashed as they are.
  TDigestChallenge plain;
  plain.Realm = "r";
  plain.Nonce = "n";
  EXPECT_EQ(DigestAuthorization(plain, "a\"b\\c", "pw", "GET", "/", "", 1),
            "Digest username=\"a\\\"b\\\\c\", realm=\"r\", nonce=\"n\", uri=\"/\", "
            "response=\"f68eab2adba753111baa9f945d051f7d\"");
}

TEST(DigestAuth, CnoncesAreFreshHex) {
  std::string a = NewCnonce(), b = NewCnonce();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, b);
}

}  // namespace
