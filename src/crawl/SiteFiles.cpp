#include "SiteFiles.h"

#include <algorithm>

#include "Messages.h"
#include "RequestTarget.h"
#include "Sitemap.h"
#include "UrlOrigin.h"
#include "UrlParts.h"

TSiteFiles::TSiteFiles(const THttpSettings& settings, std::function<std::string()> proxy)
    : settings_(settings), proxy_(std::move(proxy)) {}

bool TSiteFiles::RobotsAllow(const std::string& address) {
  const TUrlParts parts = SplitUrl(address);
  return RulesOf(UrlOrigin(address)).Allowed(RequestTargetOf(parts.Path.empty() ? "/" : parts.Path));
}

const TRobotsRules& TSiteFiles::RulesOf(const std::string& origin) {
  auto known = rules_.find(origin);
  if (known != rules_.end()) return known->second;
  const TFile file = Fetch(origin + "/robots.txt", static_cast<std::int64_t>(kMaxRobotsTxtBytes) * 2);
  TRobotsRules rules = TRobotsRules::AllowAll();
  if (file.error == 0 && file.status >= 200 && file.status < 300) {
    rules = TRobotsRules::Parse(file.body, kRobotsProductToken);
  } else if (file.error != 0 || file.status >= 500) {
    rules = TRobotsRules::DisallowAll();
  }
  sitemapLines_[origin] = rules.Sitemaps;
  return rules_.emplace(origin, std::move(rules)).first->second;
}

std::vector<std::string> TSiteFiles::SitemapAddresses(const std::string& address) {
  const std::string origin = UrlOrigin(address);
  RulesOf(origin);
  std::vector<std::string> sitemaps = {origin + "/sitemap.xml"};
  for (const std::string& line : sitemapLines_[origin]) sitemaps.push_back(line);
  std::vector<std::string> addresses, seen;
  for (const std::string& sitemap : sitemaps) ReadSitemap(sitemap, true, addresses, seen);
  return addresses;
}

// `index`: the sitemap may be an index, whose sitemaps are read in turn.
void TSiteFiles::ReadSitemap(const std::string& url, bool index,
                             std::vector<std::string>& addresses, std::vector<std::string>& seen) {
  if (stopped_ || seen.size() >= kMaxSitemaps ||
      std::find(seen.begin(), seen.end(), url) != seen.end()) {
    return;
  }
  seen.push_back(url);
  const TFile file = Fetch(url, static_cast<std::int64_t>(kSitemapProtocolBytes));
  if (file.error != 0 || file.status < 200 || file.status >= 300) return;
  const TSitemap sitemap = ::ReadSitemap(file.body, kSitemapProtocolBytes);
  if (!sitemap.IsIndex) {
    addresses.insert(addresses.end(), sitemap.Locations.begin(), sitemap.Locations.end());
    return;
  }
  if (!index) return;
  for (const std::string& child : sitemap.Locations) ReadSitemap(child, false, addresses, seen);
}

// A compressed sitemap may be sent as it is ("sitemap.xml.gz" as
// application/gzip): ReadSitemap undoes the gzip itself.
TSiteFiles::TFile TSiteFiles::Fetch(const std::string& url, std::int64_t limit) {
  TFile file;
  if (stopped_) {
    file.error = kHttpErrorAborted;
    return file;
  }
  THttpCli client;
  ApplyTo(settings_, client);
  client.Proxy = proxy_();
  client.MaxDocSize = limit;
  client.URL = url;
  TMemoryStream body;
  client.ReceiveStream = &body;
  client.OnRequestDone = [&file](TObject*, THttpRequest, std::uint16_t error) { file.error = error; };
  fetching_ = &client;
  lastState_ = -1;
  try {
    client.Get();
  } catch (const EHttpException&) {
    // A refusal: its status says enough.
  }
  fetching_ = nullptr;
  file.status = client.StatusCode();
  file.body.assign(body.Data());
  return file;
}

void TSiteFiles::AbortStalled(int timeoutMs) {
  if (!fetching_ || timeoutMs <= 0) return;
  const std::uint32_t now = GetTickCount();
  if (fetching_->State() != lastState_ || fetching_->WireBytes() != lastBytes_) {
    lastState_ = fetching_->State();
    lastBytes_ = fetching_->WireBytes();
    lastProgress_ = now;
    return;
  }
  if (now - lastProgress_ >= static_cast<std::uint32_t>(timeoutMs)) fetching_->Abort();
}

void TSiteFiles::Stop() {
  stopped_ = true;
  if (fetching_) fetching_->Abort();
}
