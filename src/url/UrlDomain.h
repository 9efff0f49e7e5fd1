// Registrable domains ("example.co.uk" of "www.example.co.uk") and the
// domain match of cookies, read from the public suffix list: Debian's
// publicsuffix file through libpsl, or the list built into libpsl when that
// file cannot be read. The list is loaded once, on first use, from any thread.
//
// A host is an ASCII name as it stands in an address, in any case. It has no
// registrable domain when it is an IP address (IPv4 in any form an address
// parser reads as one, such as 127.1 or 0x7f.0.0.1; IPv6 with or without
// brackets), a public suffix itself, or malformed: empty, an empty label
// (a leading, doubled or trailing dot), a byte other than letters, digits,
// "-" and "_" (non-ASCII included), a label over 63 or a name over 253 bytes.
//
// "localhost" and the names under it are one site, as the loopback test
// sites need: the registrable domain of a.localhost and of b.localhost is
// "localhost", and "localhost" is no public suffix. (The list itself has no
// rule for them, so libpsl would make a.localhost a site of its own.)
#pragma once

#include <string>
#include <string_view>

// The registrable domain of host in lower case; empty when it has none (see
// above).
std::string RegistrableDomain(std::string_view host);

// Whether host (any case) is a public suffix: a rule of the list ("com",
// "co.uk", "github.io") or, under the list's default rule, a single label
// the list does not know ("test", "example"). False for an IP address, a
// malformed host, "localhost" and the names under it.
bool IsPublicSuffix(std::string_view host);

// Whether host is an IP address: bracketed, with a ":" (IPv6), or with a
// last label that is a number (decimal, or hexadecimal after "0x"), which
// address parsers read as IPv4.
bool IsIpAddressHost(std::string_view host);

// The domain match of cookies: host and domain are identical (ASCII case
// ignored), or host ends with "." + domain and is no IP address. An empty
// domain matches nothing.
bool DomainMatches(std::string_view host, std::string_view domain);
