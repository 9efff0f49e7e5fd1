// A small loopback web site for crawl tests: serves fixed pages by path,
// answers 404 for the rest, can stall a chosen path until released, and
// records every requested path in order.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "LoopbackPeer.h"

namespace testpeer {

class SiteServer {
 public:
  explicit SiteServer(std::map<std::string, std::string> pages, std::string stallPath = "")
      : pages_(std::move(pages)),
        stallPath_(std::move(stallPath)),
        peer_([this](int fd, LoopbackPeer& peer) { Serve(fd, peer); }, 1000) {}

  std::string PortText() const { return peer_.PortText(); }
  std::string Root() const { return "http://127.0.0.1:" + PortText() + "/"; }
  void Release() { peer_.Release(); }

  std::vector<std::string> Requested() {
    std::lock_guard lock(mu_);
    return requested_;
  }

 private:
  void Serve(int fd, LoopbackPeer& peer) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && peer.WaitReadable(fd, 10000)) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      request.append(buf, static_cast<size_t>(n));
    }
    // "GET <target> HTTP/1.0": the target may be a path or an absolute address.
    size_t start = request.find(' ') + 1;
    std::string target = request.substr(start, request.find(' ', start) - start);
    if (size_t scheme = target.find("://"); scheme != std::string::npos) {
      size_t path = target.find('/', scheme + 3);
      target = path == std::string::npos ? "/" : target.substr(path);
    }
    {
      std::lock_guard lock(mu_);
      requested_.push_back(target);
    }
    if (target == stallPath_) {
      peer.WaitReleased(20000);
      return;
    }
    auto page = pages_.find(target.substr(0, target.find('?')));  // the query selects nothing
    std::string response = page == pages_.end()
                               ? "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<p>Nicht gefunden</p>"
                               : "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + page->second;
    for (size_t off = 0; off < response.size();) {
      ssize_t w = ::send(fd, response.data() + off, response.size() - off, MSG_NOSIGNAL);
      if (w <= 0) return;
      off += static_cast<size_t>(w);
    }
  }

  std::map<std::string, std::string> pages_;
  std::string stallPath_;
  std::mutex mu_;
  std::vector<std::string> requested_;
  LoopbackPeer peer_;  // last: its thread starts when everything else exists
};

}  // namespace testpeer
