// The response relay: one server's bytes back to the browser.
#include <string_view>

#include "proxy/image_chunk.h"
#include "proxy/relay_worker.h"
#include "proxy/request_text.h"
#include "rules/open_elements.h"
#include "rules/request_matching.h"

void CRelayWorker::RunResponseRelay() {
  char* buffer = m_buffer.get();
  for (;;) {
    const ssize_t received = ReceiveSome(m_input.Get(), buffer, kRequestBufferSize);
    if (received <= 0) return;
    const std::size_t length = static_cast<std::size_t>(received);
    buffer[length] = 0;
    if (!m_state->IsTunnel() && !FilterResponsePiece(length)) return;
    // A browser that is gone ends the relay instead of draining the server.
    if (SendAll(m_output.Get(), buffer, length) < 0) return;
  }
}

bool CRelayWorker::FilterResponsePiece(std::size_t length) {
  if (!m_settings.filterActive) return true;
  char* buffer = m_buffer.get();
  // A piece that begins with a status line begins a new response, inside no
  // element that a rule was removing from the one before.
  if (std::string_view(buffer, length).starts_with("HTTP/1.")) ResetOpenElements(m_config);
  if (IsImageChunk(buffer, length)) return true;
  m_state->RefreshLastUrl(m_url, m_urlGeneration);
  const bool allowed = m_state->IsAllowed();
  return !FilterTraffic(buffer, length, true, false, allowed, m_url, m_config).blocked;
}
