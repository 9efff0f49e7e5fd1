#include "TlsCertificates.h"

#include <stdexcept>
#include <vector>

#include "ChildProcess.h"

namespace testsupport {

namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr int kOpensslTimeoutMs = 30000;
constexpr const char* kLoopbackNames = "subjectAltName=DNS:localhost,IP:127.0.0.1\n";

void Openssl(std::vector<std::string> args) {
  args.insert(args.begin(), kOpenssl);
  if (RunProgram(args, kOpensslTimeoutMs) != 0) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    throw std::runtime_error("openssl failed (Debian package openssl): " + line);
  }
}

std::vector<std::string> NewKeyArgs(const std::filesystem::path& key) {
  return {"-newkey", "ec",      "-pkeyopt",  "ec_paramgen_curve:prime256v1",
          "-nodes",  "-keyout", key.string()};
}

}  // namespace

const TestCertificates& TestCertificates::Shared() {
  static const TestCertificates certificates;
  return certificates;
}

TestCertificates::TestCertificates() {
  caFile_ = dir_ / "ca.pem";
  caKey_ = dir_ / "ca.key";
  std::vector<std::string> ca = {"req", "-x509"};
  for (auto& a : NewKeyArgs(caKey_)) ca.push_back(a);
  for (auto a : {"-out", caFile_.c_str(), "-days", "3650", "-subj", "/CN=Tirasel Test CA"})
    ca.push_back(a);
  Openssl(ca);

  valid_ = Issue("valid", kLoopbackNames, 3650);
  // A negative validity: it ended before the test runs.
  expired_ = Issue("expired", kLoopbackNames, -1);
  wrongHost_ = Issue("wronghost", "subjectAltName=DNS:wrong.invalid\n", 3650);

  selfSigned_ = {dir_ / "selfsigned.pem", dir_ / "selfsigned.key"};
  WriteFile(dir_ / "selfsigned.ext", kLoopbackNames);
  std::vector<std::string> self = {"req", "-x509"};
  for (auto& a : NewKeyArgs(selfSigned_.key)) self.push_back(a);
  for (auto a : {"-out", selfSigned_.cert.c_str(), "-days", "3650", "-subj", "/CN=localhost",
                 "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"}) {
    self.push_back(a);
  }
  Openssl(self);
}

CertificateFiles TestCertificates::Issue(const std::string& name, const std::string& altNames,
                                         int days) {
  CertificateFiles files{dir_ / (name + ".pem"), dir_ / (name + ".key")};
  const std::filesystem::path request = dir_ / (name + ".csr");
  const std::filesystem::path extensions = dir_ / (name + ".ext");
  WriteFile(extensions, altNames);
  std::vector<std::string> req = {"req"};
  for (auto& a : NewKeyArgs(files.key)) req.push_back(a);
  for (auto a : {"-out", request.c_str(), "-subj", "/CN=localhost"}) req.push_back(a);
  Openssl(req);
  Openssl({"x509", "-req", "-in", request.string(), "-CA", caFile_.string(), "-CAkey",
           caKey_.string(), "-CAcreateserial", "-out", files.cert.string(), "-days",
           std::to_string(days), "-extfile", extensions.string()});
  return files;
}

}  // namespace testsupport
