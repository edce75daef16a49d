// The request relay: the browser's further bytes to the server of each request.
#include <cstring>
#include <string_view>

#include "config/page_recorder.h"
#include "proxy/buffer_pool.h"
#include "proxy/connect_answer.h"
#include "proxy/first_request.h"
#include "proxy/relay_worker.h"
#include "proxy/request_text.h"
#include "rules/request_matching.h"

void CRelayWorker::RunRequestRelay() {
  m_current = m_state;
  m_url = m_state->GetLastUrl();
  if (!m_settings.corporate) RegisterUpstream(m_state);
  while (WaitForInput()) {
    const CRelayBuffer borrowed;
    char* buffer = borrowed.Get();
    const ssize_t received = ReceivePiece(buffer);
    if (received <= 0) return;
    std::size_t length = static_cast<std::size_t>(received);
    bool forward = true;
    // Inside a tunnel the bytes are the browser's encrypted stream: never parsed
    // or filtered.
    if (!m_current->IsTunnel()) {
      if (StartsNewRequest(buffer, length)) {
        if (!BeginRequest(buffer, length, forward)) return;
      } else if (!FilterRequestPiece(buffer, length)) {
        return;
      }
    }
    if (forward && SendAll(m_current->GetServerSocket().Get(), buffer, length) < 0) return;
  }
}

bool CRelayWorker::BeginRequest(char* buffer, std::size_t& length, bool& forward) {
  std::string host = m_host;
  int port = 80;
  bool isConnect = false;
  ParseHostAndPort(buffer, length, host, port, isConnect);
  GetPageRecorder().GetUrlHistory().Add(GetRequestUrl(buffer, length, false));
  m_url = GetRequestUrl(buffer, length, true);

  // The rules decide before any server is contacted: a blocked request never
  // reaches its server.
  bool allowed = false;
  if (m_settings.filterActive) {
    CConfigSnapshot::CLease rules = m_config->Borrow(m_openDepths);
    allowed = IsRequestAllowed(buffer, length, m_url, rules.GetDocument());
    if (FilterTraffic(buffer, length, true, true, allowed, m_url, rules.GetDocument()).blocked)
      return false;
  }
  if (m_settings.corporate) {
    // The corporate proxy answers a CONNECT itself; what follows is the tunnel.
    m_current->NoteRequest(m_url, allowed);
    if (isConnect) m_current->SetTunnel();
    return true;
  }

  const auto state = FindUpstream(host, port, true, isConnect);
  if (!state) return false;
  m_current = state;
  m_host = host;
  m_current->NoteRequest(m_url, allowed);
  if (isConnect) {
    if (SendAll(m_input.Get(), kConnectAnswer.data(), kConnectAnswer.size()) < 0) return false;
    // Only the bytes behind the CONNECT request, already the tunnel's, go on.
    const std::size_t tunnelStart = FindHeaderBlockEnd(buffer, length);
    std::memmove(buffer, buffer + tunnelStart, length - tunnelStart);
    length -= tunnelStart;
    forward = length > 0;
    return true;
  }
  NormalizeRequest(buffer, length);
  return true;
}

bool CRelayWorker::FilterRequestPiece(char* buffer, std::size_t length) {
  if (!m_settings.filterActive) return true;
  const bool allowed = m_current->IsAllowed();
  CConfigSnapshot::CLease rules = m_config->Borrow(m_openDepths);
  return !FilterTraffic(buffer, length, false, true, allowed, m_url, rules.GetDocument()).blocked;
}
