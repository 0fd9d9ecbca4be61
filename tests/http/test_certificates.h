// A certificate authority and server certificates made for one test with the
// openssl command line, in a temporary folder: a valid certificate for
// localhost and 127.0.0.1, one for another name, and an expired one.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/peers.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/temp_dir.h"

namespace peloria::testing {

class TestCertificates {
 public:
  static bool Available() { return !FindProgram("openssl").empty(); }

  TestCertificates() {
    Run("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=Peloria-Test-CA -keyout ca.key -out ca.crt");
    Run("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=Other-CA -keyout other-ca.key -out other-ca.crt");
    Write("ca.cnf",
          "[ca]\ndefault_ca = test\n[test]\ndir = .\ndatabase = index.txt\n"
          "new_certs_dir = .\nserial = serial\ndefault_md = sha256\npolicy = any\n"
          "unique_subject = no\n[any]\ncommonName = supplied\n");
    Write("index.txt", "");
    Write("serial", "1000\n");
    Make("localhost", "DNS:localhost,IP:127.0.0.1", "-days 2");
    Make("other", "DNS:other.test", "-days 2");
    Make("expired", "DNS:localhost,IP:127.0.0.1",
         "-startdate 20200101000000Z -enddate 20200102000000Z");
  }

  std::filesystem::path Folder() const { return folder_.path(); }
  std::filesystem::path Ca() const { return Folder() / "ca.crt"; }
  std::filesystem::path OtherCa() const { return Folder() / "other-ca.crt"; }
  // "localhost", "other" or "expired".
  NginxTls Server(const std::string& name) const {
    return {Folder() / (name + ".crt"), Folder() / (name + ".key")};
  }

 private:
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(Folder() / name) << text;
  }
  void Run(const std::string& arguments) {
    const std::string command =
        "cd '" + Folder().string() + "' && openssl " + arguments + " >> openssl.log 2>&1";
    if (std::system(command.c_str()) != 0) {
      throw std::runtime_error("openssl failed: " + arguments);
    }
  }
  void Make(const std::string& name, const std::string& altNames, const std::string& dates) {
    Write(name + ".ext", "subjectAltName = " + altNames + "\n");
    Run("req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=" + name +
        " -keyout " + name + ".key -out " + name + ".csr");
    Run("ca -batch -notext -config ca.cnf -cert ca.crt -keyfile ca.key -in " + name + ".csr -out " +
        name + ".crt -extfile " + name + ".ext " + dates);
  }

  TempDir folder_;
};

// Points the TLS library's store at one CA file for the life of the object.
class CaFileOverride {
 public:
  explicit CaFileOverride(const std::filesystem::path& file) {
    environment_.Set("SSL_CERT_FILE", file.string());
  }

 private:
  ScopedEnvironment environment_;
};

}  // namespace peloria::testing

#define PELORIA_SKIP_WITHOUT_OPENSSL()                               \
  if (::peloria::testing::TestCertificates::Available()) {           \
  } else                                                             \
    GTEST_SKIP() << "openssl is not installed; install the openssl " \
                    "package to run this test"
