// The response relay: one server's answers, framed, back to the browser in turn.
#include <algorithm>
#include <cstring>

#include "proxy/block_counters.h"
#include "proxy/image_chunk.h"
#include "proxy/relay_worker.h"
#include "proxy/request_text.h"
#include "proxy/time_limits.h"
#include "rules/request_matching.h"

CRelayWorker::Ending CRelayWorker::RelayAnswers() {
  CReceiveWindow window(m_server.Get());
  CMessageStream stream(CMessageStream::Side::kAnswers);
  // A full window means the server is sending faster than one piece per receive:
  // the next piece is taken at once, and the pieces go to the browser in full
  // frames until the server has nothing more waiting.
  CSendBurst burst(m_browser.Get());
  const std::chrono::milliseconds limit = GetTimeLimits().serverIdle;
  auto wait = CReceiveWindow::Wait::kYes;
  for (;;) {
    // A server quiet between answers soon gives back the thread waiting for it.
    const bool betweenAnswers = !m_inAnswer && window.IsEmpty();
    const CReceiveWindow::Result received =
        window.Receive(wait, betweenAnswers ? std::min(kParkAfter, limit) : limit);
    if (received == CReceiveWindow::Result::kNothingYet) {
      burst.End();
      wait = CReceiveWindow::Wait::kYes;
      continue;
    }
    if (received == CReceiveWindow::Result::kTimedOut) {
      if (betweenAnswers && m_order->ParkRelay(*m_state)) return Ending::kParked;
      // A request body still on its way to the server keeps the connection alive.
      if (!m_state->IdleFor(limit)) continue;
      return OnServerSilent();
    }
    if (received != CReceiveWindow::Result::kReceived) return OnServerClosed(stream);
    m_state->NoteActivity();
    const bool full = window.Unread().size() == kMaxPieceSize;
    if (full) burst.Begin();
    wait = full ? CReceiveWindow::Wait::kNo : CReceiveWindow::Wait::kYes;
    if (const auto ending = HandleReceived(window, stream)) return *ending;
    // A short piece ends the burst: what is held leaves before the next wait.
    if (!full) burst.End();
  }
}

std::optional<CRelayWorker::Ending> CRelayWorker::HandleReceived(CReceiveWindow& window,
                                                                 CMessageStream& stream) {
  char* bytes = window.UnreadData();
  const std::size_t size = window.Unread().size();
  std::size_t sent = 0;  // bytes before this offset have gone to the browser
  std::size_t read = 0;  // bytes before this offset have been framed
  for (;;) {
    if (!m_inAnswer) {
      if (read == size) break;
      // Bytes from a server that owes no answer belong to no request.
      if (!BeginAnswer(stream)) return Ending::kServerOnly;
    }
    const CMessageStream::CEvent event =
        stream.Next(std::string_view(bytes + read, size - read), kMaxPieceSize);
    if (event.type == CMessageStream::Event::kNeedMore) break;
    if (event.type == CMessageStream::Event::kError) return OnBrokenAnswer(m_answerShown);
    if (event.type == CMessageStream::Event::kHead) {
      // The browser may see this answer only after every answer owed before it.
      if (!m_hasTurn && !m_order->WaitForTurn(m_state.get())) return Ending::kBrowserConnection;
      m_hasTurn = true;
      m_filterState.StartMessage();
    }
    if (event.type == CMessageStream::Event::kBody && !event.content)
      m_chunkFraming.push_back({read - sent, event.length});
    read += event.length;
    if (event.type == CMessageStream::Event::kHead || event.type == CMessageStream::Event::kBody)
      continue;
    // The message ended (kEnd or kTunnel): its bytes go out as one piece.
    if (!SendPiece(bytes + sent, read - sent)) return Ending::kBrowserConnection;
    sent = read;
    m_answerShown = false;
    if (event.type == CMessageStream::Event::kEnd && stream.GetResponseHead().interim) continue;
    m_inAnswer = false;
    m_hasTurn = false;
    if (event.type == CMessageStream::Event::kTunnel) {
      window.Consume(read);
      return HandOverTunnel(window);
    }
    m_order->Finish(m_state.get());
  }
  // Body bytes go out as they come; a head not yet whole stays unread (and unsent)
  // until more bytes complete it.
  if (read > sent) {
    if (!SendPiece(bytes + sent, read - sent)) return Ending::kBrowserConnection;
    m_answerShown = true;
  }
  window.Consume(read);
  return std::nullopt;
}

bool CRelayWorker::BeginAnswer(CMessageStream& stream) {
  std::optional<CPendingAnswer> owed = m_order->FirstOwedBy(m_state.get());
  if (!owed) return false;
  m_answer = std::move(*owed);
  stream.ExpectAnswerTo(m_answer.kind);
  m_inAnswer = true;
  return true;
}

bool CRelayWorker::SendPiece(char* bytes, std::size_t length) {
  if (length == 0) return true;
  const bool passed =
      m_chunkFraming.empty() ? FilterPiece(bytes, length) : FilterChunkedPiece(bytes, length);
  m_chunkFraming.clear();
  // A browser that is gone ends the relay instead of draining the server.
  return passed && SendAll(m_browser.Get(), bytes, length) >= 0;
}

bool CRelayWorker::FilterPiece(char* bytes, std::size_t length) {
  if (!m_settings.filterActive || m_answer.allowed) return true;
  // The text functions read up to a 0 after the piece; the byte there may be the
  // next message's first, so it is put back afterwards.
  const char following = bytes[length];
  bytes[length] = 0;
  CTrafficText text(bytes, length);
  CHeaderValueReader headers;
  bool blocked = false;
  if (!IsImageChunk(text, headers)) {
    // Response conditions are tested on every piece of an answer.
    const PieceFlags flags{.startsMessage = true, .isRequest = false, .allowed = false};
    blocked = FilterTraffic(text, flags, m_answer.url, m_config->GetRules(), m_filterState, headers)
                  .blocked;
  }
  bytes[length] = following;
  if (blocked) GetBlockCounters().Count(BlockedBy::kRules, GetUrlHost(m_answer.url));
  return !blocked;
}

bool CRelayWorker::FilterChunkedPiece(char* bytes, std::size_t length) {
  if (!m_settings.filterActive || m_answer.allowed) return true;
  // The rules see the page without its chunk sizes and line ends, gathered into a
  // second buffer, so that a rule never blanks the framing the browser reads by
  // and text split across two chunks is still found.
  const CRelayBuffer gathered;
  char* content = gathered.Get();
  std::size_t contentLength = 0;
  std::size_t from = 0;
  for (const CByteRange& framing : m_chunkFraming) {
    std::memcpy(content + contentLength, bytes + from, framing.offset - from);
    contentLength += framing.offset - from;
    from = framing.offset + framing.length;
  }
  std::memcpy(content + contentLength, bytes + from, length - from);
  contentLength += length - from;
  if (!FilterPiece(content, contentLength)) return false;
  contentLength = 0;
  from = 0;
  for (const CByteRange& framing : m_chunkFraming) {
    std::memcpy(bytes + from, content + contentLength, framing.offset - from);
    contentLength += framing.offset - from;
    from = framing.offset + framing.length;
  }
  std::memcpy(bytes + from, content + contentLength, length - from);
  return true;
}

CRelayWorker::Ending CRelayWorker::OnServerClosed(CMessageStream& stream) {
  const bool inAnswer = m_inAnswer;
  const CMessageStream::CEvent event = stream.Close();
  if (inAnswer && event.type == CMessageStream::Event::kEnd) {
    // An answer that runs until the server closes has reached the browser whole;
    // the browser knows it ended only when its own connection closes.
    m_order->Finish(m_state.get());
    return Ending::kBrowserConnection;
  }
  // A server that closes between answers ends only its own connection, unless the
  // browser is already waiting for an answer from it.
  if (!inAnswer && !m_order->FirstOwedBy(m_state.get())) return Ending::kServerOnly;
  return Ending::kBrowserConnection;
}

CRelayWorker::Ending CRelayWorker::OnServerSilent() {
  // An idle connection that owes nothing just ends; a browser left waiting for an
  // answer that never came is told so, when nothing of it has reached it yet.
  if (!m_inAnswer && !m_order->FirstOwedBy(m_state.get())) return Ending::kServerOnly;
  if (!m_answerShown) AnswerWithError(504, "The server did not answer in time.");
  return Ending::kBrowserConnection;
}

CRelayWorker::Ending CRelayWorker::OnBrokenAnswer(bool headSent) {
  // Nothing of a broken answer has reached the browser yet: it gets an error page
  // in its place. Otherwise all the browser can be told is the close.
  if (!headSent) AnswerWithError(502, "The server's answer could not be read.");
  return Ending::kBrowserConnection;
}

CRelayWorker::Ending CRelayWorker::HandOverTunnel(CReceiveWindow& window) {
  // The tunnel's first bytes, received with the answer, reach the browser before
  // the request loop, woken by the finished answer, pumps the tunnel both ways.
  const std::string_view first = window.Unread();
  if (SendAll(m_browser.Get(), first.data(), first.size()) < 0) return Ending::kBrowserConnection;
  window.Consume(first.size());
  m_state->SetTunnel();
  m_order->Finish(m_state.get());
  return Ending::kHandedOver;
}
