// CBrowserConnection: one accepted browser connection, request after request.
#include "proxy/browser_connection.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "blocklists/active_block_lists.h"
#include "config/page_recorder.h"
#include "platform/worker_thread.h"
#include "proxy/block_counters.h"
#include "proxy/connection_slots.h"
#include "codings/content_coding.h"
#include "proxy/error_answer.h"
#include "proxy/head_rewrite.h"
#include "proxy/host_cache.h"
#include "proxy/live_relay_count.h"
#include "proxy/local_address.h"
#include "proxy/own_request.h"
#include "proxy/request_recording.h"
#include "proxy/request_text.h"
#include "proxy/time_limits.h"
#include "rules/request_matching.h"

namespace {

// The text functions read up to a 0 after the text; the byte there belongs to the
// body or the next request, and is put back when the text is done with.
class CTerminatedText {
 public:
  CTerminatedText(char* text, std::size_t length) : m_end(text + length), m_saved(*m_end) {
    *m_end = 0;
  }
  ~CTerminatedText() { *m_end = m_saved; }
  CTerminatedText(const CTerminatedText&) = delete;
  CTerminatedText& operator=(const CTerminatedText&) = delete;

 private:
  char* m_end;
  char m_saved;
};

// The request line ends in "HTTP/1.0".
bool IsHttp10Request(std::string_view head) {
  const std::size_t lineEnd = head.find_first_of("\r\n");
  return head.substr(0, lineEnd).ends_with(" HTTP/1.0");
}

std::chrono::milliseconds TimeLeftUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace

CBrowserConnection::~CBrowserConnection() = default;

void CBrowserConnection::Prepare(CSocket browser, in_addr peer, int proxyPort,
                                 std::shared_ptr<CConfigSnapshot> config) {
  m_browser = std::move(browser);
  m_peer = peer;
  m_scope.proxyPort = proxyPort;
  m_config = std::move(config);
  m_settings = m_config->GetSettings();
  // An inspected connection's server is the tunnel's own, never the corporate proxy.
  if (m_origin) m_settings.corporate = false;
  m_order = std::make_shared<CAnswerOrder>();
  GetConnectionSlots().Take();
}

bool CBrowserConnection::Start(CSocket browser, in_addr peer, int proxyPort,
                               std::shared_ptr<CConfigSnapshot> config) {
  Prepare(std::move(browser), peer, proxyPort, std::move(config));
  if (StartWorkerThread(ThreadMain, this)) return true;
  GetConnectionSlots().Give();
  delete this;
  return false;
}

void CBrowserConnection::RunHere(CSocket browser, in_addr peer, int proxyPort,
                                 std::shared_ptr<CConfigSnapshot> config) {
  Prepare(std::move(browser), peer, proxyPort, std::move(config));
  ThreadMain(this);
}

bool CBrowserConnection::StartInspected(CSocket browser, in_addr peer, int proxyPort,
                                        std::shared_ptr<CConfigSnapshot> config,
                                        CInspectedOrigin origin) {
  m_origin = std::move(origin);
  return Start(std::move(browser), peer, proxyPort, std::move(config));
}

void* CBrowserConnection::ThreadMain(void* connection) {
  bool counted = false;
  {
    std::unique_ptr<CBrowserConnection> self(static_cast<CBrowserConnection*>(connection));
    self->Run();
    counted = self->m_countedAsRelay;
  }
  // Lowered only once the connection has let go of its sockets.
  if (counted) g_liveRelayCount.fetch_sub(1);
  GetConnectionSlots().Give();
  return nullptr;
}

void CBrowserConnection::Run() {
  // Reading the machine's addresses waits until another thread accepts in this
  // one's place.
  m_scope.peerIsLocal = IsOwnAddress(m_peer);
  m_input.emplace(m_browser.Get());
  // A browser sends its first request right behind the connection, so it is
  // taken without waiting for the socket first.
  m_input->Receive(CReceiveWindow::Wait::kNo);
  while (ServeRequest()) {
  }
  Finish();
}

void CBrowserConnection::Finish() {
  // A browser that stops sending has left, as far as a proxy can tell: nothing
  // owed to it is waited for. The response relays and every wait for an answer
  // end with the connection.
  m_order->Close();
  m_browser.Shutdown();
  m_upstreams.CloseAll();
}

bool CBrowserConnection::ServeRequest() {
  CMessageStream::CEvent event;
  if (!ReadHead(event)) return false;
  if (event.type == CMessageStream::Event::kError) {
    // Framing that two readers could take differently is refused, not guessed
    // (RFC 9112 sections 6.1, 6.3 and 11.2).
    const bool tooLarge = m_stream.GetError() == FramingError::kHeadTooLarge;
    Refuse(tooLarge ? 431 : 400, {},
           tooLarge ? "The request's header block is too large." : "The request is malformed.");
    return false;
  }
  return ForwardRequest(event.length);
}

bool CBrowserConnection::ReadHead(CMessageStream::CEvent& event) {
  std::optional<Clock::time_point> headDeadline;
  for (;;) {
    event = m_stream.Next(m_input->Unread(), kMaxPieceSize);
    if (event.type == CMessageStream::Event::kSkip) {
      m_input->Consume(event.length);
      continue;
    }
    if (event.type != CMessageStream::Event::kNeedMore) return true;
    // A browser that leaves in the middle of a header block sent no request.
    if (!ReceiveRequestBytes(headDeadline)) return false;
  }
}

bool CBrowserConnection::ReceiveRequestBytes(std::optional<Clock::time_point>& headDeadline) {
  const CTimeLimits& limits = GetTimeLimits();
  for (;;) {
    const bool idle = m_input->IsEmpty();
    // A header block has its time from its first byte on, however slowly it comes.
    if (!idle && !headDeadline) headDeadline = Clock::now() + limits.headerBlock;
    const auto limit = idle ? limits.browserIdle : TimeLeftUntil(*headDeadline);
    const CReceiveWindow::Result received = m_input->Receive(CReceiveWindow::Wait::kYes, limit);
    if (received == CReceiveWindow::Result::kReceived) return true;
    // A browser waiting for an answer is not idle, however long the server takes.
    if (received != CReceiveWindow::Result::kTimedOut || !idle || m_order->GetOwedCount() == 0)
      return false;
  }
}

bool CBrowserConnection::ForwardRequest(std::size_t headLength) {
  if (m_order->IsClosed()) return false;
  char* head = m_input->UnreadData();
  CRequestTarget target;
  std::string url;
  if (m_origin) {
    if (!ReadInspectedTarget(head, headLength, target, url)) {
      Refuse(400, {}, "The request is malformed.");
      return false;
    }
  } else {
    ParseHostAndPort(head, headLength, target.host, target.port, target.isConnect);
    if (HandOverOwnRequest(head, target)) return false;
    url = GetRequestUrl(head, headLength, true);
  }
  const CRequestHead framing = m_stream.GetRequestHead();
  std::size_t sendLength = headLength;
  bool allowed = false;
  // The browser's own codings, read before a rule may blank them; only a request
  // the rules may read needs them.
  const std::string_view original(head, headLength);
  const std::optional<std::string> accepted =
      m_settings.filterActive && HasHeader(original, "Accept-Encoding")
          ? std::optional<std::string>(FindHeaderValue(original, "Accept-Encoding"))
          : std::nullopt;
  // A blocked request is closed without an answer; its server is never contacted.
  // The answers owed before it still reach the browser first.
  if (!PrepareRequest(head, sendLength, url, target.host, allowed) ||
      (!m_settings.corporate && target.host.empty())) {
    m_order->WaitUntilAllAnswered();
    return false;
  }
  if (BodyInHandIsBroken(headLength)) {
    Refuse(400, {}, "The request's body is malformed.");
    return false;
  }
  if (!m_settings.corporate && target.isConnect) return OpenTunnel(target, headLength);

  OpenFailure failure = OpenFailure::kNone;
  const std::shared_ptr<CUpstreamState> upstream =
      m_origin ? FindInspectedUpstream(failure) : FindUpstream(target, failure);
  if (!upstream) {
    RefuseUnreachable(m_settings.corporate ? m_settings.corporateHost : target.host, failure);
    return false;
  }
  // Noted before the first byte leaves, so the answer finds its place in line.
  m_order->Expect({upstream.get(), framing.kind, url, allowed, IsHttp10Request(original)});
  if (m_order->ResumeRelay(*upstream) && !StartResponseRelay(upstream)) return false;
  // An answer the rules will read may come only in a coding the proxy decodes.
  std::string ownHead;
  if (accepted && m_settings.filterActive && !allowed)
    ownHead = WithAcceptEncoding(std::string_view(head, sendLength),
                                 DecodableCodingsAccepted(*accepted));
  const std::string_view sent = ownHead.empty() ? std::string_view(head, sendLength) : ownHead;
  if (SendAll(upstream->GetServerSocket().Get(), sent.data(), sent.size()) < 0) return false;
  upstream->NoteActivity();
  m_input->Consume(headLength);
  if (!ForwardBody(*upstream)) {
    // A request cut off in its body will never be answered: the connection ends
    // now, without waiting for the answers owed.
    m_order->Close();
    upstream->GetServerSocket().Shutdown();
    return false;
  }
  // After an upgrade request (or a CONNECT the corporate proxy answers) the
  // answer decides whether the bytes that follow are requests or a tunnel.
  if (!framing.asksUpgrade && framing.kind != RequestKind::kConnect) return true;
  if (!m_order->WaitUntilAllAnswered()) return false;
  if (!upstream->IsTunnel()) return true;
  // The response relay has passed on the answer and left the server's bytes to the
  // tunnel, which moves them without waiting.
  if (SetSocketMode(upstream->GetServerSocket(), SocketMode::kNonBlocking))
    RelayTunnel(upstream->GetServerSocket());
  return false;
}

bool CBrowserConnection::HandOverOwnRequest(char* head, const CRequestTarget& target) {
  // Only a request at the proxy's own port can be for the proxy itself; other
  // requests are not resolved before the rules have passed them.
  if (target.host.empty() || target.port != m_scope.proxyPort) return false;
  const auto address = ResolveHost(target.host);
  if (!address || !IsProxyItself(*address, target.port, m_scope)) return false;
  // The page is for this machine's own loopback only; anyone else is closed. The
  // browser gets the page once every answer before it is out.
  if (!IsLoopbackAddress(m_peer) || !m_order->WaitUntilAllAnswered()) return true;
  m_upstreams.CloseAll();
  // The handler reads on from the bytes received so far, the head's and after.
  const std::string_view received = m_input->Unread();
  HandleOwnRequest(std::move(m_browser), std::string_view(head, received.size()));
  return true;
}

bool CBrowserConnection::PassesFilters(char* head, std::size_t headLength, const std::string& url,
                                       std::string_view host, bool& allowed, bool& modified) {
  if (m_settings.filterActive) {
    const CRuleSet& rules = m_config->GetRules();
    allowed = IsRequestAllowed(head, headLength, url, rules, m_filterState);
    const PieceFlags flags{.startsMessage = true, .isRequest = true, .allowed = allowed};
    const FilterVerdict verdict = FilterTraffic(head, headLength, flags, url, rules, m_filterState);
    modified = verdict.modified != 0;
    if (verdict.blocked) {
      GetBlockCounters().Count(BlockedBy::kRules, host);
      return false;
    }
  }
  // The lists apply while filtering is on, rules or none; a request that a rule
  // allows is exempt from them as from the rules.
  if (!m_settings.filterEnabled || allowed || !GetActiveBlockLists().IsBlocked(host)) return true;
  GetBlockCounters().Count(BlockedBy::kLists, host);
  return false;
}

bool CBrowserConnection::PrepareRequest(char* head, std::size_t& headLength, const std::string& url,
                                        std::string_view host, bool& allowed) {
  const CRequestHead framing = m_stream.GetRequestHead();
  const CTerminatedText terminated(head, headLength);
  bool modified = false;
  if (!PassesFilters(head, headLength, url, host, allowed, modified)) return false;
  CPageRecorder& recorder = GetPageRecorder();
  if (recorder.GetState() == kRecorderRecording) {
    const std::size_t recorded = headLength + RecordableBodyLength(headLength);
    const CTerminatedText terminated(head, recorded);
    RecordRequest(head, recorded);
  }
  // An inspected request's URL names its scheme and site; the request line does not.
  recorder.GetUrlHistory().Add(m_origin ? url : GetRequestUrl(head, headLength, false));
  // The corporate proxy needs the absolute form; a server reached directly gets
  // the origin form (RFC 9112 3.2.1).
  if (!m_settings.corporate) NormalizeRequest(head, headLength);
  if (!modified) return true;
  // A rule that rewrote or dropped a framing header would leave the server reading
  // the body differently from us: such a request is not sent.
  const CRequestHead rewritten = ReadRequestHead(std::string_view(head, headLength));
  return rewritten.error == FramingError::kNone && rewritten.body == framing.body &&
         rewritten.contentLength == framing.contentLength;
}

std::size_t CBrowserConnection::RecordableBodyLength(std::size_t headLength) const {
  const CRequestHead& framing = m_stream.GetRequestHead();
  if (framing.body != BodyFraming::kContentLength) return 0;
  const std::size_t inHand = m_input->Unread().size() - headLength;
  return framing.contentLength < inHand ? static_cast<std::size_t>(framing.contentLength) : inHand;
}

void CBrowserConnection::Refuse(int status, std::string_view host, std::string_view detail) {
  if (!m_order->WaitUntilAllAnswered()) return;
  m_order->Close();
  SendErrorAnswer(m_browser.Get(), status, host, detail);
  CloseAfterAnswer(m_browser);
}

void CBrowserConnection::RefuseUnreachable(const std::string& host, OpenFailure failure) {
  switch (failure) {
    case OpenFailure::kNone:
    case OpenFailure::kNotAllowed:
      // Closed without an answer, like a blocked request.
      m_order->WaitUntilAllAnswered();
      return;
    case OpenFailure::kNoSuchName:
      return Refuse(502, host, "The name could not be resolved.");
    case OpenFailure::kRefused:
      return Refuse(502, host, "The server refused the connection.");
    case OpenFailure::kTimedOut:
      return Refuse(504, host, "The server did not accept the connection in time.");
  }
}

void CBrowserConnection::CountAsRelay() {
  if (m_countedAsRelay) return;
  m_countedAsRelay = true;
  g_liveRelayCount.fetch_add(1);
}
