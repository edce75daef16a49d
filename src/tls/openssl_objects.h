// Owning handles for OpenSSL objects, and OpenSSL's error queue as text.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

// Frees an OpenSSL object with the function made for its type.
template <auto Free>
struct COpenSslFree {
  template <typename Object>
  void operator()(Object* object) const {
    Free(object);
  }
};

using CSslPtr = std::unique_ptr<SSL, COpenSslFree<SSL_free>>;
using CSslContextPtr = std::unique_ptr<SSL_CTX, COpenSslFree<SSL_CTX_free>>;
using CCertificatePtr = std::unique_ptr<X509, COpenSslFree<X509_free>>;
using CKeyPtr = std::unique_ptr<EVP_PKEY, COpenSslFree<EVP_PKEY_free>>;
using CBioPtr = std::unique_ptr<BIO, COpenSslFree<BIO_free_all>>;
using CBignumPtr = std::unique_ptr<BIGNUM, COpenSslFree<BN_free>>;
using CExtensionPtr = std::unique_ptr<X509_EXTENSION, COpenSslFree<X509_EXTENSION_free>>;
using CGeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, COpenSslFree<GENERAL_NAMES_free>>;

// A second owning handle on an object someone else holds (its reference count raised).
CCertificatePtr ShareCertificate(X509* certificate);
CKeyPtr ShareKey(EVP_PKEY* key);

// The text of the oldest error OpenSSL queued in this thread, with the queue
// emptied: a stale entry would make a later SSL_get_error on this thread lie.
std::string TakeOpenSslError();
