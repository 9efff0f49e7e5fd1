#include "UrlResolve.h"

#include <vector>

#include "AsciiCase.h"
#include "UrlOrigin.h"

std::string RemoveDotSegments(const std::string& path) {
  std::vector<std::string> segments;
  size_t start = 1;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    std::string segment =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    bool last = slash == std::string::npos;
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      if (last) segments.emplace_back();
    } else if (segment == ".") {
      if (last) segments.emplace_back();
    } else {
      segments.push_back(segment);
    }
    if (last) break;
    start = slash + 1;
  }
  std::string out;
  for (const std::string& segment : segments) out += "/" + segment;
  return out.empty() ? "/" : out;
}

std::string ResolveRelativeUrl(const std::string& base, const std::string& ref) {
  size_t schemeEnd = base.find("://");
  if (schemeEnd == std::string::npos) return ref;
  std::string scheme = base.substr(0, schemeEnd);
  size_t pathStart = base.find('/', schemeEnd + 3);
  std::string authority =
      base.substr(schemeEnd + 3,
                  pathStart == std::string::npos ? std::string::npos : pathStart - schemeEnd - 3);
  std::string path = pathStart == std::string::npos ? "/" : base.substr(pathStart);
  std::string pathOnly = path.substr(0, path.find_first_of("?#"));
  if (ref.empty()) return base;
  if (ref.starts_with("//")) return scheme + ":" + ref;
  if (ref[0] == '#') return scheme + "://" + authority + path.substr(0, path.find('#')) + ref;
  if (ref[0] == '?') return scheme + "://" + authority + pathOnly + ref;
  size_t queryAt = ref.find_first_of("?#");
  std::string refPath = ref.substr(0, queryAt);
  std::string suffix = queryAt == std::string::npos ? "" : ref.substr(queryAt);
  if (ref[0] == '/') return scheme + "://" + authority + RemoveDotSegments(refPath) + suffix;
  std::string directory = pathOnly.substr(0, pathOnly.rfind('/') + 1);
  return scheme + "://" + authority + RemoveDotSegments(directory + refPath) + suffix;
}

std::string FetchedAddress(bool Tls, std::string_view Host, std::string_view Port,
                           std::string_view Path) {
  const bool defaultPort = Port.empty() || Port == DefaultPort(Tls);
  return std::string(Tls ? "https://" : "http://") + std::string(Host) +
         (defaultPort ? "" : ":" + std::string(Port)) + std::string(Path.empty() ? "/" : Path);
}

TUrlParts RelocationTarget(const std::string& current, const std::string& value) {
  std::string target;
  const size_t schemeLength = SchemePrefixLength(value);
  if (schemeLength > 0 && value.compare(schemeLength, 2, "//") == 0) {
    target = value;
  } else {
    target = ResolveRelativeUrl(current, value.substr(schemeLength));
  }
  TUrlParts parts = SplitUrl(target);
  parts.Proto = LowerAscii(parts.Proto);
  if (parts.Port == DefaultPort(parts.Proto == "https")) parts.Port.clear();
  return parts;
}

std::string RelocatedAddress(const TUrlParts& target) {
  return target.Proto + "://" + target.Host + (target.Port.empty() ? "" : ":" + target.Port) +
         (target.Path.empty() ? "/" : target.Path);
}
