// Requests addressed to the proxy itself, handed to a handler the application
// installs instead of being forwarded.
#pragma once

#include <string_view>

#include "proxy/socket.h"

// Called on the browser connection's thread with the browser's socket, which the
// handler now owns, and the bytes of the request received so far (its header
// block unless the browser stopped early, at most 16384 bytes). The peer is on
// this machine's loopback.
using OwnRequestHandler = void (*)(CSocket browser, std::string_view request);

// Installs the handler for requests to the proxy itself; nullptr brings back
// the built-in program page. Install it before the listener starts.
void SetOwnRequestHandler(OwnRequestHandler handler);

// Hands a request to the installed handler.
void HandleOwnRequest(CSocket browser, std::string_view request);

// The built-in handler: a short HTML page naming the program and its version,
// then the connection is closed.
void AnswerWithProgramPage(CSocket browser, std::string_view request);
