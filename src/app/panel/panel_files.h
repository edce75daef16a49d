// The page files of the control panel, embedded into the program at build time.
#pragma once

#include <span>
#include <string>
#include <string_view>

struct CEmbeddedFile {
  std::string_view name;
  std::string_view bytes;
};

// Every file of resources/panel/, by file name (generated at build time).
std::span<const CEmbeddedFile> GetEmbeddedPanelFiles();

// The embedded file of that name, or nullptr.
const CEmbeddedFile* FindPanelFile(std::string_view name);
// The content type for a file name's extension; empty for an extension the panel
// does not serve.
std::string_view GetPanelContentType(std::string_view name);
// index.html with the page's token and the program version filled in.
std::string RenderPanelIndex(std::string_view token);
