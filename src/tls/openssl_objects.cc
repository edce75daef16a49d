// Owning handles for OpenSSL objects, and OpenSSL's error queue as text.
#include "tls/openssl_objects.h"

#include <openssl/err.h>

CCertificatePtr ShareCertificate(X509* certificate) {
  if (certificate != nullptr) X509_up_ref(certificate);
  return CCertificatePtr(certificate);
}

CKeyPtr ShareKey(EVP_PKEY* key) {
  if (key != nullptr) EVP_PKEY_up_ref(key);
  return CKeyPtr(key);
}

std::string TakeOpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}
