// The digests of WARC-Block-Digest and WARC-Payload-Digest: "sha1:" and the
// SHA-1 of the bytes in base32 (the upper-case alphabet A-Z 2-7, no padding:
// 20 bytes make 32 letters), as every common tool writes them.
#pragma once

#include <string>
#include <string_view>

// Throws EWarcError when libcrypto cannot compute SHA-1.
std::string WarcSha1Digest(std::string_view bytes);

// Base32 with the upper-case alphabet and "=" padding to a multiple of 8.
std::string Base32(std::string_view bytes);
