// CUpstreamState: one server connection of a browser connection.
#include "proxy/upstream_state.h"

#include <utility>

CUpstreamState::CUpstreamState(std::string host, int port, CSocket server)
    : m_host(std::move(host)), m_port(port), m_server(std::move(server)) {}
