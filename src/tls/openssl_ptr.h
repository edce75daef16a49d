// Owning handles for OpenSSL objects, freed with their own free functions.
#pragma once

#include <openssl/ssl.h>

#include <memory>

struct COpenSslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  void operator()(X509* certificate) const { X509_free(certificate); }
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};

using CSslPtr = std::unique_ptr<SSL, COpenSslFree>;
using CSslContextPtr = std::unique_ptr<SSL_CTX, COpenSslFree>;
using CX509Ptr = std::unique_ptr<X509, COpenSslFree>;
using CKeyPtr = std::unique_ptr<EVP_PKEY, COpenSslFree>;
using CBioPtr = std::unique_ptr<BIO, COpenSslFree>;
