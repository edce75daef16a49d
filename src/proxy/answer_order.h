// CAnswerOrder: the answers a browser connection is owed, in the order of its requests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "proxy/message_framing.h"

class CUpstreamState;

// What a response relay needs of the request its server's next answer is for.
struct CPendingAnswer {
  const CUpstreamState* upstream = nullptr;
  RequestKind kind = RequestKind::kOther;
  // The request's target, which the rules see with the answer, and whether a rule
  // exempts the request (and with it the answer) from filtering.
  std::string url;
  bool allowed = false;
  // The browser asked in HTTP/1.0, which reads no chunked body.
  bool http10 = false;
};

// Shared by the browser connection's request loop, which notes every request it
// sends, and the response relays of its server connections, which may send an
// answer to the browser only when it is the first one owed (RFC 9112 9.3.2: answers
// go back in the order of the requests). Closing wakes every waiting thread.
class CAnswerOrder {
 public:
  CAnswerOrder() = default;
  CAnswerOrder(const CAnswerOrder&) = delete;
  CAnswerOrder& operator=(const CAnswerOrder&) = delete;

  // A request was sent to `answer.upstream`; noted before its first byte leaves.
  void Expect(CPendingAnswer answer);
  // The first answer `upstream` owes, or nothing when it owes none (or all is closed).
  std::optional<CPendingAnswer> FirstOwedBy(const CUpstreamState* upstream) const;
  // The response relay of `upstream` may leave, giving back its thread, when that
  // server owes nothing: true when it may. Until ResumeRelay, the server's
  // connection is watched by nobody.
  bool ParkRelay(CUpstreamState& upstream);
  // Called after Expect for a request to `upstream`: true when its relay had
  // parked, and the caller must start one for the answer.
  bool ResumeRelay(CUpstreamState& upstream);
  bool IsRelayParked(const CUpstreamState& upstream) const;
  // Waits until the first answer owed anywhere is `upstream`'s; false once closed.
  bool WaitForTurn(const CUpstreamState* upstream);
  // The answer at the front, `upstream`'s, has reached the browser whole.
  void Finish(const CUpstreamState* upstream);
  // Waits until every answer owed has reached the browser; false once closed.
  bool WaitUntilAllAnswered();
  // Ends the connection's traffic: every wait returns false from now on.
  void Close();
  // Waits until Close, at most `limit`; true when it came.
  bool WaitForClose(std::chrono::milliseconds limit);
  bool IsClosed() const;
  std::size_t GetOwedCount() const;

 private:
  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  // Seldom more than a few: a vector, which unlike a deque costs nothing while empty.
  std::vector<CPendingAnswer> m_owed;
  bool m_closed = false;
};
