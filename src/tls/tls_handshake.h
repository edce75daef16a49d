// The two TLS handshakes of an inspected connection: Lumbra as the client of the
// real server, and as the server the browser asked for.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <string>
#include <string_view>

#include "proxy/socket.h"
#include "tls/openssl_objects.h"

enum class ServerTlsVerdict {
  kVerified,                // the server proved it is the host, by the system's trust
  kNotVerified,             // its certificate does not verify for the host
  kClientCertificateAsked,  // it wants a client certificate, which only the browser has
  kFailed,                  // no TLS handshake came about (closed, timed out, not TLS)
};

struct CServerTls {
  ServerTlsVerdict verdict = ServerTlsVerdict::kFailed;
  CSslPtr session;  // set for kVerified only
};

// Shakes hands with the server over `socket` (made non-blocking): SNI for a host
// name, ALPN http/1.1 only, TLS 1.2 or 1.3, the certificate checked for `host` (a
// name or an IP address) against the trust store OpenSSL's default paths give
// (SSL_CERT_FILE and SSL_CERT_DIR honoured). A chain that ends in the authority
// whose DER certificate is `ownAuthority` is refused, so that Lumbra never
// vouches for a server through itself.
CServerTls ShakeHandsWithServer(const CSocket& socket, const std::string& host,
                                std::string_view ownAuthority,
                                std::chrono::milliseconds limit);

struct CLeafCredentials;

// Completes the browser's handshake over `socket` (made non-blocking) with the
// leaf made for the host, TLS 1.2 or 1.3, ALPN answered with http/1.1 only (no
// protocol when the browser offers none of it); the browser's first bytes (its
// ClientHello, read before the server was asked) are given in `received`. Null
// when the browser did not complete it: it refused the certificate, closed, or
// took longer than `limit`.
CSslPtr ShakeHandsWithBrowser(const CSocket& socket, const CLeafCredentials& leaf,
                              std::string_view received, std::chrono::milliseconds limit);
