// The download service: one blocking HTTP GET of a URL into a file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

struct DownloadLimits {
  long connectSeconds = 10;
  long totalSeconds = 60;
  // A longer answer is a failure, so a broken server cannot fill the disk.
  std::uint64_t maxBytes = 1 << 20;
  // When set and true, a transfer under way ends as a failure (the program is leaving).
  const std::atomic<bool>* cancel = nullptr;
};

// Fetches `url` (http or https; redirects followed) and, only when the server
// answered with a 2xx status within the limits, replaces the file at `path` by
// the body. An error page, a time-out or a cut transfer is a failure and leaves
// `path` as it was. Safe to call from any thread. Certificates are checked against
// the system's authorities, or those of $SSL_CERT_FILE and $SSL_CERT_DIR when set,
// as OpenSSL's own tools take them.
bool DownloadUrlToFile(const std::string& url, const std::string& path,
                       const DownloadLimits& limits);
// The same, saying in `error` why it failed ("The server answered 404." ...).
bool DownloadUrlToFileWithReason(const std::string& url, const std::string& path,
                                 const DownloadLimits& limits, std::string& error);

// The service as callers receive it, so tests can stand in for it.
using UrlDownloader =
    std::function<bool(const std::string& url, const std::string& path, const DownloadLimits&)>;
