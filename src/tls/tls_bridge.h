// Decrypted traffic handed to plain sockets: each TLS session is pumped both ways
// against a plain socket (one end of a socket pair whose other end the proxy's
// ordinary relays read and write), all in one thread so that no TLS session is
// ever used by two threads at once.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <span>

struct CTlsPlainPair {
  SSL* session;     // after its handshake, over tlsSocket
  int tlsSocket;    // non-blocking
  int plainSocket;  // any mode; read and written without waiting
  // The plain side's end, once passed on, ends the whole bridge: its peer is done
  // with every pair (the proxy's connection that closes the browser's side only
  // when it ends altogether).
  bool endsBridge = false;
};

enum class BridgeEnd { kAllClosed, kFailed, kIdle };

// Moves bytes until every direction of every pair has ended (each end passed on
// as a half-close: close_notify one way, the end of the stream the other), a pair
// that ends the bridge has ended its plain side, one side fails, or nothing has
// moved for `idleLimit`. The caller then closes all.
BridgeEnd BridgeTls(std::span<CTlsPlainPair> pairs, std::chrono::milliseconds idleLimit);
