// The page files of the control panel, embedded into the program at build time.
#include "app/panel/panel_files.h"

#include <utility>

namespace {

constexpr std::pair<std::string_view, std::string_view> kContentTypes[] = {
    {".html", "text/html; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".png", "image/png"},
    {".svg", "image/svg+xml"},
    {".ico", "image/x-icon"},
};

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size()))
    text.replace(at, placeholder.size(), value);
}

}  // namespace

const CEmbeddedFile* FindPanelFile(std::string_view name) {
  for (const CEmbeddedFile& file : GetEmbeddedPanelFiles())
    if (file.name == name) return &file;
  return nullptr;
}

std::string_view GetPanelContentType(std::string_view name) {
  for (const auto& [extension, type] : kContentTypes)
    if (name.ends_with(extension)) return type;
  return {};
}

std::string RenderPanelIndex(std::string_view token) {
  const CEmbeddedFile* index = FindPanelFile("index.html");
  if (index == nullptr) return {};
  std::string page(index->bytes);
  ReplaceAll(page, "{{TOKEN}}", token);
  ReplaceAll(page, "{{VERSION}}", LUMBRA_VERSION_TEXT);
  return page;
}
