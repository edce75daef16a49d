// The response relay: one server's bytes back to the browser.
#include <algorithm>
#include <string_view>

#include "proxy/buffer_pool.h"
#include "proxy/image_chunk.h"
#include "proxy/relay_worker.h"
#include "proxy/request_text.h"
#include "proxy/socket.h"
#include "rules/request_matching.h"

void CRelayWorker::RunResponseRelay() {
  while (WaitForInput()) {
    const CRelayBuffer borrowed;
    char* buffer = borrowed.Get();
    // A full piece means the server is sending faster than one piece per receive:
    // the next one is taken at once, and the pieces go to the browser in full
    // frames until the server has nothing more waiting.
    CSendBurst burst(m_output.Get());
    for (ssize_t received = ReceivePiece(buffer); received != kNothingWaiting;
         received = ReceivePiece(buffer, false)) {
      if (received <= 0) return;
      const std::size_t length = static_cast<std::size_t>(received);
      if (!m_state->IsTunnel() && !FilterResponsePiece(buffer, length)) return;
      if (length == kRequestBufferSize) burst.Begin();
      // A browser that is gone ends the relay instead of draining the server.
      if (SendAll(m_output.Get(), buffer, length) < 0) return;
      if (length < kRequestBufferSize) break;
    }
  }
}

bool CRelayWorker::FilterResponsePiece(char* buffer, std::size_t length) {
  if (!m_settings.filterActive) return true;
  // A piece that begins with a status line begins a new response, inside no
  // element that a rule was removing from the one before.
  if (std::string_view(buffer, length).starts_with("HTTP/1."))
    std::fill(m_openDepths.begin(), m_openDepths.end(), 0);
  CTrafficText text(buffer, length);
  CHeaderValueReader headers;
  if (IsImageChunk(text, headers)) return true;
  m_state->RefreshLastUrl(m_url, m_urlGeneration);
  const bool allowed = m_state->IsAllowed();
  CConfigSnapshot::CLease rules = m_config->Borrow(m_openDepths);
  return !FilterTraffic(text, true, false, allowed, m_url, rules.GetDocument(), headers).blocked;
}
