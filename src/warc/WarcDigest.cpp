#include "WarcDigest.h"

#include <openssl/evp.h>

#include <cstdint>

#include "WarcError.h"

std::string WarcSha1Digest(std::string_view bytes) {
  unsigned char sha1[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), sha1, &length, EVP_sha1(), nullptr) != 1) {
    throw EWarcError("libcrypto cannot compute SHA-1");
  }
  return "sha1:" + Base32(std::string_view(reinterpret_cast<const char*>(sha1), length));
}

std::string Base32(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  std::string text;
  std::uint32_t bits = 0;
  int count = 0;  // bits waiting in `bits`, fewer than 5 between bytes
  for (char c : bytes) {
    bits = (bits << 8) | static_cast<unsigned char>(c);
    count += 8;
    while (count >= 5) {
      count -= 5;
      text += kAlphabet[(bits >> count) & 31];
    }
  }
  if (count > 0) text += kAlphabet[(bits << (5 - count)) & 31];
  while (text.size() % 8 != 0) text += '=';
  return text;
}
