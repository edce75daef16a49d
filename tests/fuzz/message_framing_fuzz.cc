// Drives the message framing of both sides over arbitrary bytes received in pieces
// of fuzzer-chosen sizes. Checks that every event stays within the bytes it was given,
// that the stream always moves on or asks for more, and that how the bytes were cut
// changes nothing: the same heads, message ends and errors as when all came at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/message_framing.h"

namespace {

using Event = CMessageStream::Event;
using Side = CMessageStream::Side;

void Check(bool condition) {
  if (!condition) std::abort();
}

// What is left of a stream's events once the cuts no longer show: where each header
// block begins and how long it is, where each message ends or becomes a tunnel, and
// why it stopped.
struct CLog {
  std::vector<std::size_t> entries;
  bool operator==(const CLog&) const = default;
};

struct CSetup {
  Side side = Side::kRequests;
  std::size_t maxHead = 0;
  std::uint32_t answerKinds = 0;  // two bits per answer: the request it answers
};

RequestKind KindOf(std::uint32_t kinds, std::size_t answer) {
  switch ((kinds >> (2 * (answer % 16))) & 3u) {
    case 1:
      return RequestKind::kHead;
    case 2:
      return RequestKind::kConnect;
    default:
      return RequestKind::kOther;
  }
}

class CDriver {
 public:
  CDriver(const CSetup& setup, std::string_view bytes)
      : m_setup(setup), m_bytes(bytes), m_stream(setup.side) {}

  // Receives the bytes in pieces of `pieces` sizes (then the rest at once), as a
  // receiver keeping the unread bytes in front does, and closes at the end.
  CLog Run(const std::vector<std::size_t>& pieces) {
    m_stream.ExpectAnswerTo(KindOf(m_setup.answerKinds, 0));
    std::size_t piece = 0;
    // Every event takes bytes, or is one of at most two without bytes in a row.
    for (std::size_t guard = 0; guard <= 3 * m_bytes.size() + pieces.size() + 8; ++guard) {
      const std::string_view unread = m_bytes.substr(m_read, m_received - m_read);
      const CMessageStream::CEvent event = m_stream.Next(unread, m_setup.maxHead);
      if (event.type == Event::kNeedMore) {
        Check(event.length == 0);
        if (m_received == m_bytes.size()) return Close();
        m_received += piece < pieces.size() ? pieces[piece++] : m_bytes.size();
        if (m_received > m_bytes.size()) m_received = m_bytes.size();
        continue;
      }
      CheckEvent(event, unread);
      m_read += event.length;
      if (event.type == Event::kError) return Stopped();
    }
    std::abort();  // no progress
  }

 private:
  void CheckEvent(const CMessageStream::CEvent& event, std::string_view unread) {
    Check(event.length <= unread.size());
    switch (event.type) {
      case Event::kHead: {
        // Exactly the header block at the front, found within the limit.
        const std::size_t limit = unread.size() < m_setup.maxHead ? unread.size() : m_setup.maxHead;
        Check(event.length > 0 && FindHeadEnd(unread.substr(0, limit)) == event.length);
        Check(m_stream.InMessage());
        Note(1, m_read, event.length);
        break;
      }
      case Event::kSkip:
        Check(m_setup.side == Side::kRequests && event.length > 0);
        Check(unread[0] == '\r' || unread[0] == '\n');
        break;
      case Event::kBody:
        Check(event.length > 0);
        break;
      case Event::kEnd:
        Check(event.length == 0 && !m_stream.InMessage());
        Note(2, m_read, 0);
        if (m_setup.side == Side::kAnswers && !m_stream.GetResponseHead().interim)
          m_stream.ExpectAnswerTo(KindOf(m_setup.answerKinds, ++m_answers));
        break;
      case Event::kTunnel:
        Check(event.length == 0 && !m_stream.InMessage());
        Note(3, m_read, 0);
        break;
      case Event::kError:
        Check(event.length == 0 && m_stream.GetError() != FramingError::kNone);
        break;
      case Event::kNeedMore:
        break;
    }
  }

  CLog Close() {
    const CMessageStream::CEvent event = m_stream.Close();
    Check(event.length == 0);
    if (event.type == Event::kEnd) Note(2, m_read, 0);
    if (event.type == Event::kError) return Stopped();
    Check(event.type == Event::kEnd || event.type == Event::kNeedMore);
    return m_log;
  }

  // An error sticks: the stream reads nothing more.
  CLog Stopped() {
    Check(m_stream.Next(m_bytes.substr(m_read, m_received - m_read), m_setup.maxHead).type ==
          Event::kError);
    Check(m_stream.Close().type == Event::kError);
    Note(4, static_cast<std::size_t>(m_stream.GetError()), 0);
    return m_log;
  }

  void Note(std::size_t what, std::size_t offset, std::size_t length) {
    m_log.entries.insert(m_log.entries.end(), {what, offset, length});
  }

  CSetup m_setup;
  std::string_view m_bytes;
  CMessageStream m_stream;
  std::size_t m_read = 0;
  std::size_t m_received = 0;
  std::size_t m_answers = 0;
  CLog m_log;
};

// A chunked body read whole and read byte by byte ends at the same byte, or fails
// at the same byte for the same reason.
void CheckChunkedPieces(std::string_view bytes) {
  CBodyReader whole(BodyFraming::kChunked, 0);
  const CBodyReader::CStep all = whole.Consume(bytes);
  Check(all.consumed <= bytes.size());
  CBodyReader single(BodyFraming::kChunked, 0);
  CBodyReader::CStep step;
  std::size_t consumed = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    step = single.Consume(bytes.substr(i, 1));
    Check(step.consumed <= 1);
    consumed += step.consumed;
    if (step.done || step.error != FramingError::kNone) break;
  }
  Check(consumed == all.consumed && step.done == all.done && step.error == all.error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  CSetup setup;
  setup.side = provider.ConsumeBool() ? Side::kAnswers : Side::kRequests;
  setup.maxHead = provider.ConsumeIntegralInRange<std::size_t>(1, 2048);
  setup.answerKinds = provider.ConsumeIntegral<std::uint32_t>();
  std::vector<std::size_t> pieces(provider.ConsumeIntegralInRange<std::size_t>(0, 16));
  for (std::size_t& piece : pieces) piece = provider.ConsumeIntegralInRange<std::size_t>(0, 300);
  const std::string bytes = provider.ConsumeRemainingBytesAsString();

  const CLog whole = CDriver(setup, bytes).Run({});
  Check(CDriver(setup, bytes).Run(pieces) == whole);
  CheckChunkedPieces(bytes);
  return 0;
}
