// The panel's security checks: who may talk to it and which requests may change state.
#pragma once

#include <string_view>

// The connected peer is on this machine's loopback (127.0.0.0/8 or ::1).
bool IsLoopbackPeer(int socket);
// The local port the connection reached (0 when unknown).
int GetLocalPort(int socket);

// A Host value (or absolute-form authority) naming 127.0.0.1, localhost or [::1]
// with exactly `port`: a browser that reached the panel through a foreign name
// (DNS rebinding) sends that name instead.
bool IsLoopbackHost(std::string_view host, int port);
// An Origin of the panel's own page: http://127.0.0.1:<port> or http://localhost:<port>.
bool IsPanelOrigin(std::string_view origin, int port);
// A Sec-Fetch-Site value a request of the panel's own page may carry: none (the
// user typed the address) or same-origin.
bool IsOwnFetchSite(std::string_view site);
// Compares in time independent of where the texts differ.
bool TokensMatch(std::string_view given, std::string_view expected);
