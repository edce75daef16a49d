// Decrypted traffic handed to plain sockets.
#include "tls/tls_bridge.h"

#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <vector>

namespace {

constexpr std::size_t kBufferSize = 16 * 1024;

// One direction of one pair: bytes read from its source wait here until its
// destination takes them.
struct CDirection {
  std::array<char, kBufferSize> buffer;
  std::size_t start = 0;
  std::size_t end = 0;
  bool sourceEnded = false;
  bool finished = false;

  bool IsEmpty() const { return start == end; }
};

// A pair with both directions and what each waits for; `tlsEvents` and
// `plainEvents` are rebuilt on every step.
struct CPairState {
  CTlsPlainPair pair;
  CDirection fromTls;
  CDirection toTls;
  short tlsEvents = 0;
  short plainEvents = 0;
};

enum class StepResult { kIdle, kMoved, kFailed };

// What a TLS call that moved nothing waits for, or failure.
StepResult OnTlsShortfall(CPairState& state, int result, bool reading) {
  switch (SSL_get_error(state.pair.session, result)) {
    case SSL_ERROR_WANT_READ:
      state.tlsEvents |= POLLIN;
      return StepResult::kIdle;
    case SSL_ERROR_WANT_WRITE:
      state.tlsEvents |= POLLOUT;
      return StepResult::kIdle;
    case SSL_ERROR_ZERO_RETURN:
      if (!reading) return StepResult::kFailed;
      state.fromTls.sourceEnded = true;
      return StepResult::kMoved;
    case SSL_ERROR_SYSCALL:
      // A peer that closes without close_notify ends its stream all the same, as
      // browsers and servers commonly do.
      if (reading && ERR_peek_error() == 0 && (result == 0 || errno == 0)) {
        state.fromTls.sourceEnded = true;
        return StepResult::kMoved;
      }
      return StepResult::kFailed;
    default:
      return StepResult::kFailed;
  }
}

StepResult StepFromTls(CPairState& state) {
  CDirection& direction = state.fromTls;
  if (direction.finished) return StepResult::kIdle;
  if (direction.IsEmpty() && !direction.sourceEnded) {
    ERR_clear_error();
    const int read = SSL_read(state.pair.session, direction.buffer.data(), kBufferSize);
    if (read <= 0) return OnTlsShortfall(state, read, true);
    direction.start = 0;
    direction.end = static_cast<std::size_t>(read);
    return StepResult::kMoved;
  }
  if (!direction.IsEmpty()) {
    const ssize_t sent = ::send(state.pair.plainSocket, direction.buffer.data() + direction.start,
                                direction.end - direction.start, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      direction.start += static_cast<std::size_t>(sent);
      return StepResult::kMoved;
    }
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      state.plainEvents |= POLLOUT;
      return StepResult::kIdle;
    }
    return StepResult::kFailed;
  }
  ::shutdown(state.pair.plainSocket, SHUT_WR);
  direction.finished = true;
  return StepResult::kMoved;
}

StepResult StepToTls(CPairState& state) {
  CDirection& direction = state.toTls;
  if (direction.finished) return StepResult::kIdle;
  if (direction.IsEmpty() && !direction.sourceEnded) {
    const ssize_t received =
        ::recv(state.pair.plainSocket, direction.buffer.data(), kBufferSize, MSG_DONTWAIT);
    if (received > 0) {
      direction.start = 0;
      direction.end = static_cast<std::size_t>(received);
      return StepResult::kMoved;
    }
    if (received == 0) {
      direction.sourceEnded = true;
      return StepResult::kMoved;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      state.plainEvents |= POLLIN;
      return StepResult::kIdle;
    }
    return StepResult::kFailed;
  }
  if (!direction.IsEmpty()) {
    ERR_clear_error();
    const int written = SSL_write(state.pair.session, direction.buffer.data() + direction.start,
                                  static_cast<int>(direction.end - direction.start));
    if (written <= 0) return OnTlsShortfall(state, written, false);
    direction.start += static_cast<std::size_t>(written);
    return StepResult::kMoved;
  }
  // The plain side has said all it will: the peer gets close_notify, then the end
  // of the stream; what it still sends keeps coming the other way.
  ERR_clear_error();
  SSL_shutdown(state.pair.session);
  ::shutdown(state.pair.tlsSocket, SHUT_WR);
  direction.finished = true;
  return StepResult::kMoved;
}

}  // namespace

BridgeEnd BridgeTls(std::span<CTlsPlainPair> pairs, std::chrono::milliseconds idleLimit) {
  std::vector<CPairState> states(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    states[i].pair = pairs[i];
    // Writes may take part of a buffer, and be retried from a moved position.
    SSL_set_mode(pairs[i].session,
                 SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  }
  std::vector<pollfd> waits;
  for (;;) {
    bool moved = true;
    bool allFinished = true;
    // A TLS session may hold decrypted bytes that poll cannot see: keep stepping
    // while anything moves.
    while (moved) {
      moved = false;
      allFinished = true;
      for (CPairState& state : states) {
        state.tlsEvents = 0;
        state.plainEvents = 0;
        for (const StepResult result : {StepFromTls(state), StepToTls(state)}) {
          if (result == StepResult::kFailed) return BridgeEnd::kFailed;
          moved = moved || result == StepResult::kMoved;
        }
        allFinished = allFinished && state.fromTls.finished && state.toTls.finished;
        if (state.pair.endsBridge && state.toTls.finished) return BridgeEnd::kAllClosed;
      }
    }
    if (allFinished) return BridgeEnd::kAllClosed;
    waits.clear();
    for (const CPairState& state : states) {
      if (state.tlsEvents != 0) waits.push_back({state.pair.tlsSocket, state.tlsEvents, 0});
      if (state.plainEvents != 0) waits.push_back({state.pair.plainSocket, state.plainEvents, 0});
    }
    const int ready = ::poll(waits.data(), waits.size(), static_cast<int>(idleLimit.count()));
    if (ready == 0) return BridgeEnd::kIdle;
    if (ready < 0 && errno != EINTR) return BridgeEnd::kFailed;
  }
}
