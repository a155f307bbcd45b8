#include "tests/support/TestCertificates.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr long kDay = 24 * 60 * 60;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "test certificates: %s failed\n", what.c_str());
  ERR_print_errors_fp(stderr);
  std::abort();
}

template <typename T>
T* check(T* made, const std::string& what) {
  if (made == nullptr) fail(what);
  return made;
}

void check(int result, const std::string& what) {
  if (result <= 0) fail(what);
}

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

Key newKey() { return Key(check(EVP_EC_gen("P-256"), "P-256 key generation"), EVP_PKEY_free); }

// What one certificate says about itself.
struct Profile {
  const char* commonName;
  const char* subjectAltName;  // nullptr: no subjectAltName
  long notBeforeDays;          // relative to now
  long notAfterDays;
  bool authority;  // a CA that signs the others
};

void addExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value) {
  X509_EXTENSION* extension =
      check(X509V3_EXT_conf_nid(nullptr, context, nid, value), std::string("extension ") + value);
  check(X509_add_ext(certificate, extension, -1), "X509_add_ext");
  X509_EXTENSION_free(extension);
}

// A certificate for key, signed by issuer's key, or self-signed when issuer
// is null.
Certificate makeCertificate(const Profile& profile, EVP_PKEY* key, X509* issuer,
                            EVP_PKEY* issuerKey, long serial) {
  Certificate made(check(X509_new(), "X509_new"), X509_free);
  X509* c = made.get();
  check(X509_set_version(c, X509_VERSION_3), "X509_set_version");
  check(ASN1_INTEGER_set(X509_get_serialNumber(c), serial), "serial number");
  check(X509_gmtime_adj(X509_getm_notBefore(c), profile.notBeforeDays * kDay), "notBefore");
  check(X509_gmtime_adj(X509_getm_notAfter(c), profile.notAfterDays * kDay), "notAfter");
  X509_NAME* subject = X509_get_subject_name(c);
  const auto* organization = reinterpret_cast<const unsigned char*>("Ferret tests");
  const auto* commonName = reinterpret_cast<const unsigned char*>(profile.commonName);
  check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC, organization, -1, -1, 0), "O");
  check(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, commonName, -1, -1, 0), "CN");
  X509* signer = issuer != nullptr ? issuer : c;
  check(X509_set_issuer_name(c, X509_get_subject_name(signer)), "issuer name");
  check(X509_set_pubkey(c, key), "X509_set_pubkey");

  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, signer, c, nullptr, nullptr, 0);
  // The subject key id comes first: a self-signed certificate's authority
  // key id is read from it.
  addExtension(c, &context, NID_subject_key_identifier, "hash");
  addExtension(c, &context, NID_authority_key_identifier, "keyid:always");
  if (profile.authority) {
    addExtension(c, &context, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(c, &context, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    addExtension(c, &context, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(c, &context, NID_ext_key_usage, "serverAuth");
    // A self-signed leaf without keyUsage is recognised as self-signed, so a
    // verifier names that as the fault rather than a missing issuer.
    if (issuer != nullptr) addExtension(c, &context, NID_key_usage, "critical,digitalSignature");
  }
  if (profile.subjectAltName != nullptr) {
    addExtension(c, &context, NID_subject_alt_name, profile.subjectAltName);
  }
  check(X509_sign(c, issuerKey != nullptr ? issuerKey : key, EVP_sha256()), "X509_sign");
  return made;
}

std::string drain(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  std::string text(data, size > 0 ? size : 0);
  BIO_free(bio);
  return text;
}

std::string certificatePem(X509* certificate) {
  BIO* bio = check(BIO_new(BIO_s_mem()), "BIO_new");
  check(PEM_write_bio_X509(bio, certificate), "PEM_write_bio_X509");
  return drain(bio);
}

std::string keyPem(EVP_PKEY* key) {
  BIO* bio = check(BIO_new(BIO_s_mem()), "BIO_new");
  check(PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr),
        "PEM_write_bio_PrivateKey");
  return drain(bio);
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  bool ok =
      fd != -1 && write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  if (fd != -1) ok = close(fd) == 0 && ok;
  if (!ok) fail("writing " + path);
}

// Fills in `into` from a certificate and its key, writing both into dir.
void record(const std::string& dir, const std::string& name, X509* certificate, EVP_PKEY* key,
            TestCertificate* into) {
  into->name = name;
  into->certificatePem = certificatePem(certificate);
  into->keyPem = keyPem(key);
  into->certificateFile = dir + "/" + name + ".crt";
  into->keyFile = dir + "/" + name + ".key";
  writeFile(into->certificateFile, into->certificatePem, 0644);
  writeFile(into->keyFile, into->keyPem, 0600);
}

// The set and the directory holding its files, which it removes on
// destruction (at process exit).
class OwnedPki {
 public:
  OwnedPki() {
    char pattern[] = "/tmp/ferret-pki-XXXXXX";
    if (mkdtemp(pattern) == nullptr) fail("mkdtemp");
    dir = pattern;
    Key caKey = newKey();
    Certificate ca = makeCertificate({"Ferret Test CA", nullptr, -1, 3650, true}, caKey.get(),
                                     nullptr, nullptr, 1);
    record(dir, "ca", ca.get(), caKey.get(), &set.ca);
    const char* loopback = "IP:127.0.0.1,IP:::1,DNS:localhost";
    struct Leaf {
      const char* name;
      Profile profile;
      bool fromCa;
      TestCertificate* into;
    } leaves[] = {
        {"valid", {"127.0.0.1", loopback, -1, 3650, false}, true, &set.valid},
        {"expired", {"127.0.0.1", loopback, -30, -1, false}, true, &set.expired},
        {"other-name",
         {"other.example", "DNS:other.example", -1, 3650, false},
         true,
         &set.otherName},
        {"self-signed",
         {"127.0.0.1 (self-signed)", loopback, -1, 3650, false},
         false,
         &set.selfSigned},
    };
    long serial = 2;
    for (const Leaf& leaf : leaves) {
      Key key = newKey();
      Certificate made =
          leaf.fromCa ? makeCertificate(leaf.profile, key.get(), ca.get(), caKey.get(), serial++)
                      : makeCertificate(leaf.profile, key.get(), nullptr, nullptr, serial++);
      record(dir, leaf.name, made.get(), key.get(), leaf.into);
    }
  }
  ~OwnedPki() {
    for (const TestCertificate* c :
         {&set.ca, &set.valid, &set.expired, &set.otherName, &set.selfSigned}) {
      unlink(c->certificateFile.c_str());
      unlink(c->keyFile.c_str());
    }
    rmdir(dir.c_str());
  }
  OwnedPki(const OwnedPki&) = delete;
  OwnedPki& operator=(const OwnedPki&) = delete;

  TestPkiSet set;

 private:
  std::string dir;
};

}  // namespace

const TestPkiSet& TestPki() {
  static const OwnedPki owned;
  return owned.set;
}
