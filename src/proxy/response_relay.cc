// The response relay: one server's answers, framed, back to the browser in turn.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/socket_splice.h"
#include "codings/content_coding.h"
#include "proxy/block_counters.h"
#include "proxy/head_rewrite.h"
#include "proxy/image_chunk.h"
#include "proxy/relay_worker.h"
#include "proxy/request_text.h"
#include "proxy/time_limits.h"
#include "rules/request_matching.h"

namespace {

constexpr int kPartialContent = 206;
// Room before a decoded piece for its chunk size line, and its line end after.
constexpr std::size_t kChunkRoom = 16;
constexpr std::string_view kChunkEnd = "\r\n";

// The header block at the start of a piece, `length` bytes at `head`, names an
// image type.
bool HeadNamesImage(char* head, std::size_t length) {
  const char following = head[length];
  head[length] = 0;
  const CTrafficText text(head, length);
  CHeaderValueReader headers;
  const bool image = IsImageChunk(text, headers);
  head[length] = following;
  return image;
}

}  // namespace

CRelayWorker::Ending CRelayWorker::RelayAnswers() {
  // A batch of pieces per receive: a fast server's answer costs one receive and one
  // send per batch, while the rules still see one piece at a time.
  CReceiveWindow window(m_server.Get(), BufferSize::kBatch);
  CMessageStream stream(CMessageStream::Side::kAnswers);
  // A full window means the server is sending faster than one batch per receive:
  // the next batch is taken at once, and the pieces go to the browser in full
  // frames until the server has nothing more waiting.
  CSendBurst burst(m_browser.Get());
  const std::chrono::milliseconds limit = GetTimeLimits().serverIdle;
  auto wait = CReceiveWindow::Wait::kYes;
  for (;;) {
    if (window.IsEmpty() && MaySpliceBody(stream)) {
      burst.End();
      if (const auto ending = SpliceBody(window, stream, limit)) return *ending;
      wait = CReceiveWindow::Wait::kYes;
      continue;
    }
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
    const bool full = window.IsFull();
    if (full) burst.Begin();
    wait = full ? CReceiveWindow::Wait::kNo : CReceiveWindow::Wait::kYes;
    if (const auto ending = HandleReceived(window, stream)) return *ending;
    // A short receive ends the burst: what is held leaves before the next wait.
    if (!full) burst.End();
  }
}

std::optional<CRelayWorker::Ending> CRelayWorker::HandleReceived(CReceiveWindow& window,
                                                                 CMessageStream& stream) {
  CPass pass{window.UnreadData(), window.Unread().size()};
  for (;;) {
    if (!m_inAnswer) {
      if (pass.read == pass.size) break;
      // Bytes from a server that owes no answer belong to no request.
      if (!BeginAnswer(stream)) return Ending::kServerOnly;
    }
    // However many bytes came at once, a piece holds at most kMaxPieceSize of them.
    const std::size_t pieceEnd = std::min(pass.size, pass.piece + kMaxPieceSize);
    const CMessageStream::CEvent event =
        stream.Next(std::string_view(pass.bytes + pass.read, pieceEnd - pass.read), kMaxPieceSize);
    if (event.type == CMessageStream::Event::kNeedMore) {
      if (pieceEnd == pass.size) break;
      // A full piece of a body with more bytes behind it: the next piece begins.
      if (!EndPiece(pass)) return OnBlocked(pass);
      continue;
    }
    if (event.type == CMessageStream::Event::kError) {
      Flush(pass);
      return OnBrokenAnswer(m_answerShown);
    }
    if (event.type == CMessageStream::Event::kHead) {
      // The browser may see this answer only after every answer owed before it.
      if (!m_hasTurn && !m_order->WaitForTurn(m_state.get())) return Ending::kBrowserConnection;
      m_hasTurn = true;
      StartAnswerBody(event.length);
      const DecodeStart decoding =
          StartDecoding(pass.bytes + pass.read, event.length, stream.GetResponseHead());
      if (decoding == DecodeStart::kEnded) return Ending::kBrowserConnection;
      if (decoding == DecodeStart::kStarted) {
        // The server's head never leaves: its rewritten form went out instead.
        pass.read += event.length;
        pass.sent = pass.piece = pass.read;
        continue;
      }
    }
    if (m_decoder && event.type == CMessageStream::Event::kBody) {
      // Chunk framing is the server's; the browser gets chunks of its own.
      if (event.content && !DecodeContent(std::string_view(pass.bytes + pass.read, event.length)))
        return Ending::kBrowserConnection;
      pass.read += event.length;
      pass.sent = pass.piece = pass.read;
      continue;
    }
    // A decoded body for an HTTP/1.0 browser ends with the connection.
    const bool closeAfter = m_decoder && !m_decodedChunked;
    if (m_decoder && event.type == CMessageStream::Event::kEnd && !FinishDecoding())
      return Ending::kBrowserConnection;
    if (event.type == CMessageStream::Event::kBody && !event.content)
      m_chunkFraming.push_back({pass.read - pass.piece, event.length});
    pass.read += event.length;
    if (event.type == CMessageStream::Event::kHead || event.type == CMessageStream::Event::kBody)
      continue;
    // The message ended (kEnd or kTunnel): all of it leaves before the next answer's turn.
    if (!EndPiece(pass)) return OnBlocked(pass);
    if (!Flush(pass)) return Ending::kBrowserConnection;
    m_answerShown = false;
    if (event.type == CMessageStream::Event::kEnd && stream.GetResponseHead().interim) continue;
    m_inAnswer = false;
    m_hasTurn = false;
    if (event.type == CMessageStream::Event::kTunnel) {
      window.Consume(pass.read);
      return HandOverTunnel(window);
    }
    m_order->Finish(m_state.get());
    if (closeAfter) return Ending::kBrowserConnection;
  }
  // Body bytes go out as they come; a head not yet whole stays unread (and unsent)
  // until more bytes complete it.
  if (!EndPiece(pass)) return OnBlocked(pass);
  if (!Flush(pass)) return Ending::kBrowserConnection;
  window.Consume(pass.read);
  return std::nullopt;
}

bool CRelayWorker::BeginAnswer(CMessageStream& stream) {
  std::optional<CPendingAnswer> owed = m_order->FirstOwedBy(m_state.get());
  if (!owed) return false;
  m_answer = std::move(*owed);
  stream.ExpectAnswerTo(m_answer.kind);
  m_inAnswer = true;
  m_spliceUnavailable = false;
  m_decoder.reset();
  return true;
}

void CRelayWorker::StartAnswerBody(std::size_t headLength) {
  m_filterState.StartMessage();
  m_answerUnfiltered = !m_settings.filterActive || m_answer.allowed;
  m_headLength = headLength;
}

bool CRelayWorker::EndPiece(CPass& pass) {
  const std::size_t length = pass.read - pass.piece;
  if (length == 0) return true;
  char* bytes = pass.bytes + pass.piece;
  const bool passed =
      m_chunkFraming.empty() ? FilterPiece(bytes, length) : FilterChunkedPiece(bytes, length);
  m_chunkFraming.clear();
  m_headLength = 0;
  if (!passed) return false;
  pass.piece = pass.read;
  m_answerShown = true;
  return true;
}

bool CRelayWorker::Flush(CPass& pass) {
  const std::size_t length = pass.piece - pass.sent;
  if (length == 0) return true;
  // A browser that is gone ends the relay instead of draining the server.
  if (SendAll(m_browser.Get(), pass.bytes + pass.sent, length) < 0) return false;
  pass.sent = pass.piece;
  return true;
}

CRelayWorker::Ending CRelayWorker::OnBlocked(CPass& pass) {
  // The pieces before the blocked one have passed; the connection ends with it.
  Flush(pass);
  return Ending::kBrowserConnection;
}

bool CRelayWorker::MaySpliceBody(const CMessageStream& stream) const {
  // Less than a batch left goes through the window, whose one receive takes it.
  return m_inAnswer && m_hasTurn && m_answerUnfiltered && !m_spliceUnavailable &&
         stream.ContentAhead() >= BufferCapacity(BufferSize::kBatch);
}

std::optional<CRelayWorker::Ending> CRelayWorker::SpliceBody(CReceiveWindow& window,
                                                             CMessageStream& stream,
                                                             std::chrono::milliseconds limit) {
  switch (window.WaitForBytes(limit)) {
    case CReceiveWindow::Readiness::kReady:
      break;
    case CReceiveWindow::Readiness::kTimedOut:
      if (!m_state->IdleFor(limit)) return std::nullopt;
      return OnServerSilent();
    case CReceiveWindow::Readiness::kFailed:
      return OnServerClosed(stream);
  }
  const std::uint64_t ahead = std::min<std::uint64_t>(stream.ContentAhead(), kSpliceAll);
  std::size_t moved = 0;
  const SpliceResult result =
      SpliceAvailable(m_server.Get(), m_browser.Get(), moved, static_cast<std::size_t>(ahead));
  if (moved > 0) {
    stream.SkipContent(moved);
    m_state->NoteActivity();
    m_answerShown = true;
  }
  switch (result) {
    case SpliceResult::kMoved:
    case SpliceResult::kNothingYet:
      break;
    case SpliceResult::kClosed:
      return OnServerClosed(stream);
    case SpliceResult::kFailed:
      return Ending::kBrowserConnection;
    case SpliceResult::kUnavailable:
      // Descriptors ran short: the rest of this body goes through the window.
      m_spliceUnavailable = true;
      return std::nullopt;
  }
  // A body that ended with these bytes ends here, as one read from the window would.
  return HandleReceived(window, stream);
}

CRelayWorker::DecodeStart CRelayWorker::StartDecoding(char* head, std::size_t length,
                                                      const CResponseHead& response) {
  // Answers without a body of their own, and partial ones, keep their coding.
  if (m_answerUnfiltered || response.interim || response.status == kPartialContent ||
      response.body == BodyFraming::kNone || response.body == BodyFraming::kTunnel)
    return DecodeStart::kNotDecoded;
  const std::string_view text(head, length);
  std::unique_ptr<CContentDecoder> decoder =
      MakeContentDecoder(ReadContentCoding(FindHeaderValue(text, "Content-Encoding")));
  if (!decoder || HeadNamesImage(head, length)) return DecodeStart::kNotDecoded;
  // The rules see the head alone, then the decoded body piece by piece.
  if (!FilterPiece(head, length)) return DecodeStart::kEnded;
  m_headLength = 0;
  m_decodedChunked = !m_answer.http10;
  const std::string rewritten = HeadForDecodedBody(text, m_decodedChunked);
  if (SendAll(m_browser.Get(), rewritten.data(), rewritten.size()) < 0) return DecodeStart::kEnded;
  m_answerShown = true;
  m_decoder = std::move(decoder);
  m_decodedAny = false;
  m_decoded = std::make_unique<char[]>(kChunkRoom + kMaxPieceSize + kChunkEnd.size());
  return DecodeStart::kStarted;
}

bool CRelayWorker::DecodeContent(std::string_view content) {
  m_decodedAny = m_decodedAny || !content.empty();
  for (;;) {
    const CContentDecoder::Step step =
        m_decoder->Decode(content, m_decoded.get() + kChunkRoom, kMaxPieceSize);
    content.remove_prefix(step.consumed);
    if (step.produced > 0 && !SendDecodedPiece(step.produced)) return false;
    if (step.failed) return false;
    // A full piece may leave more decoded bytes waiting, even without input.
    if (step.produced < kMaxPieceSize && (content.empty() || step.consumed == 0)) return true;
  }
}

bool CRelayWorker::SendDecodedPiece(std::size_t length) {
  char* data = m_decoded.get() + kChunkRoom;
  if (!FilterPiece(data, length)) return false;
  if (!m_decodedChunked) return SendAll(m_browser.Get(), data, length) >= 0;
  // The chunk's size line goes in the room before the piece, its line end after.
  char sizeLine[kChunkRoom];
  const int sizeLength = std::snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", length);
  char* chunk = data - sizeLength;
  std::memcpy(chunk, sizeLine, static_cast<std::size_t>(sizeLength));
  std::memcpy(data + length, kChunkEnd.data(), kChunkEnd.size());
  return SendAll(m_browser.Get(), chunk, static_cast<std::size_t>(sizeLength) + length +
                                             kChunkEnd.size()) >= 0;
}

bool CRelayWorker::FinishDecoding() {
  bool finished = DecodeContent({});
  // A coded body cut short ends without its last chunk: the browser sees it broken,
  // as it would have seen the coded one.
  // An empty body is whole in any coding.
  finished = finished && (!m_decodedAny || m_decoder->IsComplete());
  if (finished && m_decodedChunked) finished = SendAll(m_browser.Get(), "0\r\n\r\n", 5) >= 0;
  m_decoder.reset();
  m_decoded.reset();
  return finished;
}

bool CRelayWorker::FilterPiece(char* bytes, std::size_t length) {
  if (m_answerUnfiltered) return true;
  // The text functions read up to a 0 after the piece; the byte there may be the
  // next message's first, so it is put back afterwards.
  const char following = bytes[length];
  bytes[length] = 0;
  CTrafficText text(bytes, length);
  CHeaderValueReader headers;
  bool blocked = false;
  if (IsImageChunk(text, headers)) {
    // An answer whose header block names an image passes unfiltered to its end.
    if (m_headLength > 0)
      m_answerUnfiltered = m_headLength == length || HeadNamesImage(bytes, m_headLength);
  } else {
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
  if (m_answerUnfiltered) return true;
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
    if (m_decoder) FinishDecoding();
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
