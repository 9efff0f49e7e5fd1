// Certificates for TLS tests, made once per test program with the openssl
// command in a temporary directory: a private CA and server certificates
// for 127.0.0.1 and "localhost" (valid, expired, for another host name, and
// self-signed). EC P-256 keys, so that making them takes milliseconds.
//
//   const auto& certs = testsupport::TestCertificates::Shared();
//   nginx.UseTls(certs.Valid());
//   socket.SetSslCAFile(certs.CaFile().string());
#pragma once

#include <filesystem>
#include <string>

#include "TempDirectory.h"

namespace testsupport {

struct CertificateFiles {
  std::filesystem::path cert;  // PEM
  std::filesystem::path key;   // PEM, unencrypted
};

class TestCertificates {
 public:
  // Made on first use; raises std::runtime_error when openssl fails.
  static const TestCertificates& Shared();

  // The private CA that issued Valid, Expired and WrongHost.
  const std::filesystem::path& CaFile() const { return caFile_; }
  const CertificateFiles& Valid() const { return valid_; }
  const CertificateFiles& Expired() const { return expired_; }
  // Issued for "wrong.invalid" only.
  const CertificateFiles& WrongHost() const { return wrongHost_; }
  // Valid for 127.0.0.1 and localhost, but signed by itself.
  const CertificateFiles& SelfSigned() const { return selfSigned_; }

 private:
  TestCertificates();
  CertificateFiles Issue(const std::string& name, const std::string& altNames, int days);

  TempDirectory dir_{"tirasel-certs"};
  std::filesystem::path caFile_, caKey_;
  CertificateFiles valid_, expired_, wrongHost_, selfSigned_;
};

}  // namespace testsupport
