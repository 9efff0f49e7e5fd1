#include "WarcRecorder.h"

#include <chrono>

#include "RequestTarget.h"
#include "WarcError.h"

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TWarcRecorder::RequestSent(const THttpCli& client, const std::string& targetUri,
                                const std::string& ipAddress, std::string_view bytes) {
  TWarcExchange& exchange = open_[&client];
  exchange = TWarcExchange{};
  exchange.TargetUri = targetUri;
  exchange.IpAddress = ipAddress;
  exchange.RequestBytes = bytes;
  exchange.TimeMs = NowMs();
}

void TWarcRecorder::AnswerData(const THttpCli& client, std::string_view bytes) {
  auto open = open_.find(&client);
  if (open != open_.end()) open->second.ResponseBytes.append(bytes);
}

// A failure before anything was sent (a name that does not resolve, a
// refused connection) is an exchange of its own, at the address the client
// was about to ask; a close of an idle client is none.
void TWarcRecorder::ExchangeEnded(const THttpCli& client, std::uint16_t error,
                                  const std::string& reason) {
  auto open = open_.find(&client);
  if (open == open_.end()) {
    if (error == 0 || client.State() == hsIdle) return;
    TWarcExchange failure;
    failure.TargetUri = RequestUriOf(client.Location());
    failure.TimeMs = NowMs();
    open = open_.emplace(&client, std::move(failure)).first;
  }
  TWarcExchange exchange = std::move(open->second);
  open_.erase(open);
  exchange.Error = error;
  exchange.Reason = error == 0 ? std::string() : reason;
  if (!failure_.empty()) return;
  try {
    writer_.WriteExchange(exchange);
  } catch (const EWarcError& problem) {
    // Out of the client's event an exception would end the request it
    // reports; the run goes on, and its front end tells afterwards.
    failure_ = problem.what();
  }
}

TWarcFields TiraselWarcInfo(const TWarcFields& options) {
  TWarcFields fields = {{"software", "Tirasel 1.0"},
                        {"format", "WARC File Format 1.1"},
                        {"conformsTo",
                         "http://iipc.github.io/warc-specifications/specifications/"
                         "warc-format/warc-1.1/"}};
  fields.insert(fields.end(), options.begin(), options.end());
  return fields;
}
