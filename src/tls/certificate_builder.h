// The steps that the authority's certificate and the leaf certificates share:
// keys, serials, validity, extensions, signatures and PEM text.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "tls/openssl_objects.h"

// A fresh ECDSA key on the P-256 curve; empty on failure.
CKeyPtr MakeP256Key();

// An X.509 v3 certificate for `key`'s public half with a fresh random serial of
// 128 bits (positive, top bit set, so always 16 bytes long); empty on failure.
CCertificatePtr StartCertificate(EVP_PKEY* key);

// Valid from `back` before now until `ahead` after now.
bool SetValidity(X509* certificate, std::chrono::seconds back, std::chrono::seconds ahead);

// Adds one extension written the way OpenSSL's configuration files write it;
// `issuer` is the certificate whose key identifier an authorityKeyIdentifier names.
bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value);

// Signs with `issuerKey` over SHA-256.
bool SignCertificate(X509* certificate, EVP_PKEY* issuerKey);

std::string CertificateToPem(X509* certificate);
std::string PrivateKeyToPem(EVP_PKEY* key);
// Empty when `pem` holds no such object.
CCertificatePtr CertificateFromPem(std::string_view pem);
CKeyPtr PrivateKeyFromPem(std::string_view pem);
