// The owning socket handle shared by the workers that use it, and whole-buffer I/O.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>

// One socket descriptor, shared by every worker that reads or writes it and closed
// exactly once, when the last handle lets go. Copies share the descriptor.
class CSocket {
 public:
  CSocket() = default;
  // Takes ownership of `descriptor`; 0 or a negative value gives no socket.
  explicit CSocket(int descriptor);

  // The descriptor, or 0 when there is none.
  int Get() const { return m_descriptor ? m_descriptor->value : 0; }
  bool IsOpen() const { return m_descriptor != nullptr; }

  // Ends traffic in both directions so that every worker blocked in a receive or
  // send on the socket returns; the descriptor stays open until the last handle
  // lets go. Safe to call from several threads and more than once.
  void Shutdown() const;
  // Ends the sending direction only: the peer reads the end of the stream after
  // every byte sent, and may still answer.
  void ShutdownSending() const;
  // Lets go of this handle's share of the descriptor.
  void Reset() { m_descriptor.reset(); }

 private:
  struct CDescriptor {
    explicit CDescriptor(int descriptor) : value(descriptor) {}
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    ~CDescriptor();
    const int value;
  };
  std::shared_ptr<const CDescriptor> m_descriptor;
};

// Whether calls on a socket wait for the peer: the relays wait (within limits),
// a tunnel's pump never does.
enum class SocketMode { kBlocking, kNonBlocking };
bool SetSocketMode(const CSocket& socket, SocketMode mode);

// Two connected sockets of this machine, each end's bytes read at the other; false
// when none can be had.
bool MakeSocketPair(CSocket& first, CSocket& second);

// Sends all `length` bytes. Returns the bytes sent (0 for an empty buffer), or -1
// when a send fails. A closed peer gives an error, never SIGPIPE.
ssize_t SendAll(int socket, const char* bytes, std::size_t length);

// Bounds every send on the socket: one that moves no byte for `limit` fails.
void SetSendLimit(const CSocket& socket, std::chrono::milliseconds limit);
// Bounds every blocking receive (and, on a listening socket, accept) the same way.
void SetReceiveLimit(const CSocket& socket, std::chrono::milliseconds limit);

// Ends the sending side, then reads what the peer still sends until it closes (for
// at most two seconds), so that closing never turns an answer just sent into a
// reset that discards it. The descriptor itself closes with its last handle.
void CloseAfterAnswer(const CSocket& peer);

// One receive of at most `capacity` bytes, resumed when a signal interrupts it.
// Returns the bytes received, 0 when the peer closed, -1 on error.
ssize_t ReceiveSome(int socket, char* buffer, std::size_t capacity);

// The same without waiting: kNothingWaiting when no byte has arrived yet.
inline constexpr ssize_t kNothingWaiting = -2;
ssize_t ReceiveWaiting(int socket, char* buffer, std::size_t capacity);

// Holds back a socket's partly filled frames while a burst of pieces is sent, so
// that they leave in full frames and wake the receiver once per frame; whatever
// is held leaves when the burst ends (at the latest when the object goes).
class CSendBurst {
 public:
  explicit CSendBurst(int socket) : m_socket(socket) {}
  ~CSendBurst() { End(); }
  CSendBurst(const CSendBurst&) = delete;
  CSendBurst& operator=(const CSendBurst&) = delete;

  // More pieces are on their way: hold partial frames from now on.
  void Begin();
  // Sends what is held and stops holding.
  void End();

 private:
  int m_socket;
  bool m_holding = false;
};
