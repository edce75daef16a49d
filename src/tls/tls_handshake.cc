// The two TLS handshakes of an inspected connection.
#include "tls/tls_handshake.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "proxy/socket.h"
#include "tls/leaf_certificates.h"

namespace {

using CClock = std::chrono::steady_clock;

constexpr unsigned char kAlpnHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

// What the callbacks of one client handshake learn, reached through the
// session's application data.
struct CClientNotes {
  std::string_view ownAuthority;
  bool clientCertificateAsked = false;
};

bool HasDer(X509* certificate, std::string_view der) {
  const int length = i2d_X509(certificate, nullptr);
  if (length <= 0 || static_cast<std::size_t>(length) != der.size()) return false;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
  unsigned char* out = bytes.data();
  i2d_X509(certificate, &out);
  return std::memcmp(bytes.data(), der.data(), der.size()) == 0;
}

int OnVerify(int preverified, X509_STORE_CTX* store) {
  if (preverified == 0) return 0;
  auto* session = static_cast<SSL*>(
      X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  const auto* notes = static_cast<const CClientNotes*>(SSL_get_app_data(session));
  if (notes != nullptr && !notes->ownAuthority.empty() &&
      HasDer(X509_STORE_CTX_get_current_cert(store), notes->ownAuthority)) {
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_UNTRUSTED);
    return 0;
  }
  return 1;
}

int OnClientCertificateAsked(SSL* session, X509**, EVP_PKEY**) {
  if (auto* notes = static_cast<CClientNotes*>(SSL_get_app_data(session)))
    notes->clientCertificateAsked = true;
  return 0;  // none given: the handshake goes on, or the server ends it
}

int SelectHttp11(SSL*, const unsigned char** selected, unsigned char* selectedLength,
                 const unsigned char* offered, unsigned int offeredLength, void*) {
  unsigned char* chosen = nullptr;
  if (SSL_select_next_proto(&chosen, selectedLength, kAlpnHttp11, sizeof kAlpnHttp11, offered,
                            offeredLength) != OPENSSL_NPN_NEGOTIATED)
    return SSL_TLSEXT_ERR_NOACK;
  *selected = chosen;
  return SSL_TLSEXT_ERR_OK;
}

// A context for `method` speaking TLS 1.2 or 1.3, the versions both sides allow.
CSslContextPtr MakeContext(const SSL_METHOD* method) {
  CSslContextPtr made(SSL_CTX_new(method));
  if (!made) return made;
  SSL_CTX_set_min_proto_version(made.get(), TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(made.get(), TLS1_3_VERSION);
  return made;
}

// The one client context: made once, read-only afterwards, shared by all threads.
SSL_CTX* ClientContext() {
  static const CSslContextPtr context = [] {
    CSslContextPtr made = MakeContext(TLS_client_method());
    if (!made) return made;
    SSL_CTX_set_default_verify_paths(made.get());
    SSL_CTX_set_verify(made.get(), SSL_VERIFY_PEER, OnVerify);
    SSL_CTX_set_alpn_protos(made.get(), kAlpnHttp11, sizeof kAlpnHttp11);
    SSL_CTX_set_client_cert_cb(made.get(), OnClientCertificateAsked);
    return made;
  }();
  return context.get();
}

// The one browser-side context; each session gets the certificate of its host.
SSL_CTX* BrowserContext() {
  static const CSslContextPtr context = [] {
    CSslContextPtr made = MakeContext(TLS_server_method());
    if (!made) return made;
    SSL_CTX_set_alpn_select_cb(made.get(), SelectHttp11, nullptr);
    return made;
  }();
  return context.get();
}

bool IsIpAddress(const std::string& host) {
  ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
  ASN1_OCTET_STRING_free(address);
  return address != nullptr;
}

// Waits until `socket` is ready for `events` or the deadline passes.
bool WaitFor(int socket, short events, CClock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - CClock::now());
    if (left.count() <= 0) return false;
    pollfd wait{socket, events, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

enum class HeldRead { kRetry, kWait, kFailed };

// The browser's bytes read before its handshake began are read first, from memory;
// once they are used up, the session reads the socket itself.
HeldRead ReadAfterHeldBytes(SSL* session, int socket, BIO* socketBio) {
  BIO* held = SSL_get_rbio(session);
  if (held == socketBio) return HeldRead::kWait;
  if (BIO_ctrl_pending(held) == 0) {
    BIO_up_ref(socketBio);
    SSL_set0_rbio(session, socketBio);
    return HeldRead::kRetry;
  }
  // Part of a record is held: the rest is added behind it.
  char bytes[4096];
  const ssize_t received = ReceiveWaiting(socket, bytes, sizeof bytes);
  if (received == kNothingWaiting) return HeldRead::kWait;
  if (received <= 0) return HeldRead::kFailed;
  BIO_write(held, bytes, static_cast<int>(received));
  return HeldRead::kRetry;
}

// Drives a handshake on a non-blocking socket until it completes, fails, or the
// deadline passes.
bool Handshake(SSL* session, int socket, bool asServer, BIO* socketBio,
               CClock::time_point deadline) {
  for (;;) {
    ERR_clear_error();
    const int result = asServer ? SSL_accept(session) : SSL_connect(session);
    if (result == 1) return true;
    const int error = SSL_get_error(session, result);
    if (error == SSL_ERROR_WANT_READ && asServer) {
      const HeldRead held = ReadAfterHeldBytes(session, socket, socketBio);
      if (held == HeldRead::kFailed) return false;
      if (held == HeldRead::kRetry) continue;
    }
    const short events =
        error == SSL_ERROR_WANT_READ ? POLLIN : error == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (events == 0 || !WaitFor(socket, events, deadline)) return false;
  }
}

}  // namespace

CServerTls ShakeHandsWithServer(const CSocket& socket, const std::string& host,
                                std::string_view ownAuthority,
                                std::chrono::milliseconds limit) {
  CServerTls result;
  SSL_CTX* context = ClientContext();
  CSslPtr session(context != nullptr ? SSL_new(context) : nullptr);
  if (!session || !SetSocketMode(socket, SocketMode::kNonBlocking) ||
      SSL_set_fd(session.get(), socket.Get()) != 1)
    return result;
  CClientNotes notes{ownAuthority};
  SSL_set_app_data(session.get(), &notes);
  if (IsIpAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session.get()), host.c_str());
  } else {
    SSL_set_tlsext_host_name(session.get(), host.c_str());
    SSL_set1_host(session.get(), host.c_str());
  }
  const bool completed =
      Handshake(session.get(), socket.Get(), false, nullptr, CClock::now() + limit);
  SSL_set_app_data(session.get(), nullptr);
  if (notes.clientCertificateAsked)
    result.verdict = ServerTlsVerdict::kClientCertificateAsked;
  else if (SSL_get_verify_result(session.get()) != X509_V_OK)
    result.verdict = ServerTlsVerdict::kNotVerified;
  else if (completed)
    result.verdict = ServerTlsVerdict::kVerified;
  if (result.verdict == ServerTlsVerdict::kVerified) result.session = std::move(session);
  return result;
}

CSslPtr ShakeHandsWithBrowser(const CSocket& socket, const CLeafCredentials& leaf,
                              std::string_view received, std::chrono::milliseconds limit) {
  SSL_CTX* context = BrowserContext();
  CSslPtr session(context != nullptr ? SSL_new(context) : nullptr);
  if (!session || !UseLeafCredentials(session.get(), leaf) ||
      !SetSocketMode(socket, SocketMode::kNonBlocking))
    return nullptr;
  BIO* held = BIO_new(BIO_s_mem());
  BIO* socketBio = BIO_new_socket(socket.Get(), BIO_NOCLOSE);
  if (held == nullptr || socketBio == nullptr) {
    BIO_free(held);
    BIO_free(socketBio);
    return nullptr;
  }
  BIO_write(held, received.data(), static_cast<int>(received.size()));
  // An empty memory buffer asks to be tried again rather than ending the stream.
  BIO_set_mem_eof_return(held, -1);
  SSL_set_bio(session.get(), held, socketBio);
  if (!Handshake(session.get(), socket.Get(), true, socketBio, CClock::now() + limit))
    return nullptr;
  return session;
}
