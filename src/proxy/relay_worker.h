// CRelayWorker: the response relay of one server connection, on its own thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "codings/content_decoder.h"
#include "proxy/answer_order.h"
#include "proxy/config_snapshot.h"
#include "proxy/message_framing.h"
#include "proxy/proxy_settings.h"
#include "proxy/receive_window.h"
#include "proxy/socket.h"
#include "proxy/upstream_state.h"
#include "rules/filter_state.h"

// Reads one server's answers as messages (RFC 9112 section 6.3) and sends each to
// the browser when its turn comes in the order of the browser's requests, running
// every piece (at most 16 KiB, never reaching into the next answer) through the
// filter rules. A body the rules do not see (filtering off, an allowed request, an
// image) moves socket to socket where it is long enough. Bytes the server sends
// while it owes no answer are dropped with its connection. After an answer that
// opens a tunnel (a 101 upgrade, or a corporate proxy's CONNECT), the request
// loop relays it.
//
// A worker owns itself: created with new, started with Start, and deleted by its
// own thread when the relay ends.
class CRelayWorker {
 public:
  CRelayWorker() = default;
  virtual ~CRelayWorker();
  CRelayWorker(const CRelayWorker&) = delete;
  CRelayWorker& operator=(const CRelayWorker&) = delete;

  void Setup(std::shared_ptr<CUpstreamState> state, CSocket browser,
             std::shared_ptr<CConfigSnapshot> config, std::shared_ptr<CAnswerOrder> order);

  // Starts the relay thread. On failure the worker is deleted and
  // g_liveRelayCount lowered by 1; false is returned.
  bool Start();

 private:
  // How a relay ends: with its server connection alone, with the whole browser
  // connection (the browser must see the close, or the order is broken), by
  // leaving the connection, now a tunnel, to the request loop, or by parking while
  // the server owes nothing (the request loop starts a relay again with the next
  // request for it).
  enum class Ending { kServerOnly, kBrowserConnection, kHandedOver, kParked };
  // How long a relay waits between answers before it parks. A parked relay costs
  // no thread stack; starting one again costs a hand-off to a parked thread, far
  // less than the server's answer takes.
  static constexpr std::chrono::milliseconds kParkAfter{200};

  static void* ThreadMain(void* worker);
  void Run();
  Ending RelayAnswers();
  // The received bytes handled in one pass: those before `sent` have gone to the
  // browser, those up to `piece` are filtered pieces waiting to go in one send, and
  // those up to `read` are framed into the piece being gathered.
  struct CPass {
    char* bytes;
    std::size_t size;
    std::size_t sent = 0;
    std::size_t piece = 0;
    std::size_t read = 0;
  };
  // Handles the bytes received so far; nothing when the relay goes on.
  std::optional<Ending> HandleReceived(CReceiveWindow& window, CMessageStream& stream);
  // Takes the first answer the server owes as the one now arriving; false when it
  // owes none.
  bool BeginAnswer(CMessageStream& stream);
  // The answer's header block has been read, at the start of the piece gathered.
  void StartAnswerBody(std::size_t headLength);
  // Filters (unless exempt) the piece being gathered; false when a rule blocks it.
  bool EndPiece(CPass& pass);
  // Sends the filtered pieces to the browser; false when the browser is gone.
  bool Flush(CPass& pass);
  Ending OnBlocked(CPass& pass);
  bool FilterPiece(char* bytes, std::size_t length);
  // The same for a piece of a chunked answer, whose chunk framing stays untouched.
  bool FilterChunkedPiece(char* bytes, std::size_t length);
  Ending OnServerClosed(CMessageStream& stream);
  // The server sent nothing for its whole idle limit.
  Ending OnServerSilent();
  Ending OnBrokenAnswer(bool headSent);
  // Sends a short error page, once the browser is owed this answer.
  void AnswerWithError(int status, std::string_view reason);
  // Sends the bytes after the answer that opened a tunnel, then leaves the tunnel
  // to the browser connection's request loop.
  Ending HandOverTunnel(CReceiveWindow& window);
  // An answer the rules read whose body comes in a coding the proxy decodes: its
  // head, `length` bytes at `head`, is filtered and goes out rewritten for the
  // decoded body.
  enum class DecodeStart { kNotDecoded, kStarted, kEnded };
  DecodeStart StartDecoding(char* head, std::size_t length, const CResponseHead& response);
  // Decodes body content, filters what comes out piece by piece and sends it;
  // false when a rule blocks it, the coding is broken or the browser is gone.
  bool DecodeContent(std::string_view content);
  // Sends what the decoder still holds and ends the browser's body.
  bool FinishDecoding();
  bool SendDecodedPiece(std::size_t length);
  // Whether the body bytes next in line may move socket to socket, and moving
  // what the server has sent of them (once it has sent any within `limit`).
  bool MaySpliceBody(const CMessageStream& stream) const;
  std::optional<Ending> SpliceBody(CReceiveWindow& window, CMessageStream& stream,
                                   std::chrono::milliseconds limit);

  std::shared_ptr<CUpstreamState> m_state;
  CSocket m_server;
  CSocket m_browser;
  std::shared_ptr<CConfigSnapshot> m_config;
  CProxySettings m_settings;
  std::shared_ptr<CAnswerOrder> m_order;
  // The answer arriving now, and whether the browser is waiting for it.
  CPendingAnswer m_answer;
  bool m_inAnswer = false;
  bool m_hasTurn = false;
  // Bytes of the current (final) answer have reached the browser (or are filtered
  // and leave before anything else can).
  bool m_answerShown = false;
  // The rules do not see the current answer's body (filtering off, an allowed
  // request, an image), and the length of its header block while the piece that
  // holds it is gathered.
  bool m_answerUnfiltered = false;
  std::size_t m_headLength = 0;
  // No pipe could be had: the current answer's body goes through the window.
  bool m_spliceUnavailable = false;
  // Where the chunk sizes, line ends and trailers lie in the piece being gathered.
  struct CByteRange {
    std::size_t offset;
    std::size_t length;
  };
  std::vector<CByteRange> m_chunkFraming;
  // Set while the current answer's body is decoded; the buffer holds one decoded
  // piece with room for its chunk framing around it.
  std::unique_ptr<CContentDecoder> m_decoder;
  std::unique_ptr<char[]> m_decoded;
  bool m_decodedChunked = false;
  bool m_decodedAny = false;  // some coded content has come
  // What the rules carry from one piece of this server's answers to the next.
  CFilterState m_filterState;
};
