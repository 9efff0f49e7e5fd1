// The server side of TLS for test peers with a behaviour of their own (a
// blocking OpenSSL server on an accepted socket), for what nginx cannot be
// made to do: stall, close without the close alert, send chosen bytes.
//
//   testsupport::TlsServerSide tls(certs.Valid());
//   LoopbackPeer peer([&](int fd, LoopbackPeer&) {
//     testsupport::TlsStream s(tls, fd);
//     if (s.Ok()) s.Write("hello");
//   });
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>
#include <string>

#include "TlsCertificates.h"

namespace testsupport {

class TlsServerSide {
 public:
  explicit TlsServerSide(const CertificateFiles& files) : ctx_(SSL_CTX_new(TLS_server_method())) {
    if (!ctx_ || SSL_CTX_use_certificate_chain_file(ctx_, files.cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, files.key.c_str(), SSL_FILETYPE_PEM) != 1) {
      throw std::runtime_error("cannot load the test certificate " + files.cert.string());
    }
    // Tickets would add records after the handshake that some tests count.
    SSL_CTX_set_num_tickets(ctx_, 0);
  }
  ~TlsServerSide() { SSL_CTX_free(ctx_); }
  TlsServerSide(const TlsServerSide&) = delete;
  TlsServerSide& operator=(const TlsServerSide&) = delete;

  SSL_CTX* Context() const { return ctx_; }

 private:
  SSL_CTX* ctx_;
};

// One accepted connection with the server handshake done (Ok) or failed.
class TlsStream {
 public:
  TlsStream(const TlsServerSide& side, int fd) : ssl_(SSL_new(side.Context())) {
    SSL_set_fd(ssl_, fd);
    ok_ = SSL_accept(ssl_) == 1;
    ERR_clear_error();
  }
  ~TlsStream() { SSL_free(ssl_); }
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  bool Ok() const { return ok_; }
  // One record per call for pieces up to 16 KB.
  bool Write(const std::string& bytes) {
    return bytes.empty() || SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) > 0;
  }
  // Reads what comes, up to the first "\r\n\r\n" (a request header).
  std::string ReadHeader() {
    std::string in;
    char buf[4096];
    while (in.find("\r\n\r\n") == std::string::npos) {
      int n = SSL_read(ssl_, buf, sizeof buf);
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
    }
    return in;
  }
  // The close alert; the TCP connection stays open.
  void SendCloseAlert() { SSL_shutdown(ssl_); }

 private:
  SSL* ssl_;
  bool ok_ = false;
};

}  // namespace testsupport
