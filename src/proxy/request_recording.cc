// Handing a browser's first request to the page recorder.
#include "proxy/request_recording.h"

#include <string>
#include <string_view>
#include <vector>

#include "config/page_recorder.h"
#include "core/ascii.h"
#include "proxy/request_text.h"

namespace {

std::vector<std::string_view> ViewsOf(const std::vector<std::string>& texts) {
  return std::vector<std::string_view>(texts.begin(), texts.end());
}

// The form fields of a POST body: the bytes before the body's first "\r\n".
void ReadFormFields(std::string_view body, std::vector<std::string>& names,
                    std::vector<std::string>& values) {
  const std::size_t end = body.find("\r\n");
  if (end == std::string_view::npos) return;
  ParseFormBody(body.data(), end, names, values);
}

}  // namespace

void RecordRequest(const char* text, std::size_t length) {
  const std::string_view request(text, length);
  std::size_t lineEnd = request.find("\r\n");
  if (lineEnd == std::string_view::npos) return;
  std::string method;
  std::string url;
  SplitRequestLine(text, lineEnd, method, url);
  if (method.empty() || url.empty()) return;

  std::vector<std::string> headerNames;
  std::vector<std::string> headerValues;
  std::size_t lineStart = lineEnd + 2;
  bool headersEnded = false;
  while ((lineEnd = request.find("\r\n", lineStart)) != std::string_view::npos) {
    if (lineEnd == lineStart) {
      headersEnded = true;
      lineStart += 2;
      break;
    }
    ParseHeaderLine(text + lineStart, lineEnd - lineStart, headerNames, headerValues);
    lineStart = lineEnd + 2;
  }

  std::vector<std::string> fieldNames;
  std::vector<std::string> fieldValues;
  if (headersEnded && EqualsNoCase(method, "POST") && lineStart < length)
    ReadFormFields(request.substr(lineStart), fieldNames, fieldValues);

  GetPageRecorder().RecordPage(url, ViewsOf(fieldNames), ViewsOf(fieldValues), ViewsOf(headerNames),
                               ViewsOf(headerValues));
}
