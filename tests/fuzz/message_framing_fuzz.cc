// Drives the message framing of both sides over arbitrary bytes received in pieces
// of fuzzer-chosen sizes. Checks that every event stays within the bytes it was given,
// that the stream always moves on or asks for more, and that how the bytes were cut
// changes nothing: the same heads, message ends and errors as when all came at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "proxy/message_framing.h"

namespace {

using Event = CMessageStream::Event;

void Check(bool condition) {
  if (!condition) std::abort();
}

struct CSetup {
  CMessageStream::Side side;
  std::size_t maxHead;
  std::uint32_t answerKinds;  // two bits per answer: the request it answers
};

// Receives `bytes` in pieces of `pieces` sizes (then the rest at once), as a receiver
// keeping the unread bytes in front does, and closes at the end. Returns what does not
// depend on the cuts: each head, message end and tunnel with its offset, and the error.
std::vector<std::size_t> Run(const CSetup& setup, std::string_view bytes,
                             const std::vector<std::size_t>& pieces) {
  static const RequestKind kKinds[] = {RequestKind::kOther, RequestKind::kHead,
                                       RequestKind::kConnect, RequestKind::kOther};
  CMessageStream stream(setup.side);
  std::vector<std::size_t> log;
  std::size_t read = 0, received = 0, piece = 0, answers = 0;
  stream.ExpectAnswerTo(kKinds[setup.answerKinds & 3u]);
  // Every event takes bytes, or is one of at most two without bytes in a row.
  for (std::size_t guard = 0; guard <= 3 * bytes.size() + pieces.size() + 8; ++guard) {
    const std::string_view unread = bytes.substr(read, received - read);
    CMessageStream::CEvent event = stream.Next(unread, setup.maxHead);
    Check(event.length <= unread.size());
    if (event.type == Event::kNeedMore && received < bytes.size()) {
      Check(event.length == 0);
      received = std::min(bytes.size(),
                          received + (piece < pieces.size() ? pieces[piece++] : bytes.size()));
      continue;
    }
    const bool closed = event.type == Event::kNeedMore;
    if (closed) {
      event = stream.Close();
      Check(event.length == 0 && (event.type == Event::kEnd || event.type == Event::kNeedMore ||
                                  event.type == Event::kError));
    }
    if (event.type == Event::kHead) {
      // Exactly the header block at the front, found within the limit.
      Check(FindHeadEnd(unread.substr(0, setup.maxHead)) == event.length && stream.InMessage());
    } else if (event.type == Event::kSkip) {
      Check(setup.side == CMessageStream::Side::kRequests &&
            (unread[0] == '\r' || unread[0] == '\n'));
    } else if (event.type == Event::kEnd || event.type == Event::kTunnel) {
      Check(event.length == 0 && !stream.InMessage());
    }
    Check(event.length > 0 ||
          (event.type != Event::kHead && event.type != Event::kSkip && event.type != Event::kBody));
    if (event.type == Event::kError) {
      // An error sticks: the stream reads nothing more.
      Check(event.length == 0 && stream.GetError() != FramingError::kNone);
      Check(stream.Next(bytes.substr(read, received - read), setup.maxHead).type == Event::kError);
      Check(stream.Close().type == Event::kError);
      log.insert(log.end(), {99, static_cast<std::size_t>(stream.GetError())});
      return log;
    }
    if (event.type == Event::kHead || event.type == Event::kEnd || event.type == Event::kTunnel)
      log.insert(log.end(), {static_cast<std::size_t>(event.type), read, event.length});
    read += event.length;
    if (closed) return log;
    if (event.type == Event::kEnd && setup.side == CMessageStream::Side::kAnswers &&
        !stream.GetResponseHead().interim)
      stream.ExpectAnswerTo(kKinds[(setup.answerKinds >> (2 * (++answers % 16))) & 3u]);
  }
  std::abort();  // no progress
}

// A chunked body read in as large steps as the reader takes and byte by byte ends at
// the same byte, or fails at the same byte for the same reason.
void CheckChunked(std::string_view bytes) {
  CBodyReader::CStep ends[2];
  for (int pass = 0; pass < 2; ++pass) {
    const std::size_t most = pass == 0 ? 1 : bytes.size();
    CBodyReader reader(BodyFraming::kChunked, 0);
    CBodyReader::CStep& end = ends[pass];
    for (std::size_t at = 0; at < bytes.size() && !end.done && end.error == FramingError::kNone;) {
      const CBodyReader::CStep step = reader.Consume(bytes.substr(at, most));
      Check(step.consumed <= std::min(most, bytes.size() - at));
      if (step.consumed == 0 && step.error == FramingError::kNone && !step.done) break;
      at += step.consumed;
      end = {at, step.done, step.error};
    }
  }
  Check(ends[0].consumed == ends[1].consumed && ends[0].done == ends[1].done &&
        ends[0].error == ends[1].error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const CSetup setup = {
      provider.ConsumeBool() ? CMessageStream::Side::kAnswers : CMessageStream::Side::kRequests,
      provider.ConsumeIntegralInRange<std::size_t>(1, 2048),
      provider.ConsumeIntegral<std::uint32_t>()};
  std::vector<std::size_t> pieces(provider.ConsumeIntegralInRange<std::size_t>(0, 16));
  for (std::size_t& piece : pieces) piece = provider.ConsumeIntegralInRange<std::size_t>(0, 300);
  const std::string bytes = provider.ConsumeRemainingBytesAsString();
  Check(Run(setup, bytes, pieces) == Run(setup, bytes, {}));
  CheckChunked(bytes);
  return 0;
}
