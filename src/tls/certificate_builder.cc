// The steps that the authority's certificate and the leaf certificates share.
#include "tls/certificate_builder.h"

#include <openssl/pem.h>

namespace {

constexpr int kSerialBits = 128;

CBioPtr MakeReadBio(std::string_view text) {
  return CBioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string DrainBio(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool SetRandomSerial(X509* certificate) {
  CBignumPtr number(BN_new());
  return number && BN_rand(number.get(), kSerialBits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) == 1 &&
         BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)) != nullptr;
}

}  // namespace

CKeyPtr MakeP256Key() { return CKeyPtr(EVP_EC_gen("P-256")); }

CCertificatePtr StartCertificate(EVP_PKEY* key) {
  CCertificatePtr certificate(X509_new());
  if (!certificate || X509_set_version(certificate.get(), X509_VERSION_3) != 1 ||
      !SetRandomSerial(certificate.get()) || X509_set_pubkey(certificate.get(), key) != 1)
    return nullptr;
  return certificate;
}

bool SetValidity(X509* certificate, std::chrono::seconds back, std::chrono::seconds ahead) {
  return X509_time_adj_ex(X509_getm_notBefore(certificate), 0, -static_cast<long>(back.count()),
                          nullptr) != nullptr &&
         X509_time_adj_ex(X509_getm_notAfter(certificate), 0, static_cast<long>(ahead.count()),
                          nullptr) != nullptr;
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  CExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool SignCertificate(X509* certificate, EVP_PKEY* issuerKey) {
  return X509_sign(certificate, issuerKey, EVP_sha256()) > 0;
}

std::string CertificateToPem(X509* certificate) {
  CBioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) return {};
  return DrainBio(bio.get());
}

std::string PrivateKeyToPem(EVP_PKEY* key) {
  CBioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
    return {};
  return DrainBio(bio.get());
}

CCertificatePtr CertificateFromPem(std::string_view pem) {
  CBioPtr bio = MakeReadBio(pem);
  return CCertificatePtr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

CKeyPtr PrivateKeyFromPem(std::string_view pem) {
  CBioPtr bio = MakeReadBio(pem);
  // No passphrase callback: an encrypted key reads as unusable instead of prompting.
  const auto noPassphrase = [](char*, int, int, void*) { return 0; };
  return CKeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr)
                     : nullptr);
}
