// The download service: one blocking HTTP GET of a URL into a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct DownloadLimits {
  long connectSeconds = 10;
  long totalSeconds = 60;
  // A longer answer is a failure, so a broken server cannot fill the disk.
  std::uint64_t maxBytes = 1 << 20;
};

// Fetches `url` (http or https; redirects followed) and, only when the server
// answered with a 2xx status within the limits, replaces the file at `path` by
// the body. An error page, a time-out or a cut transfer is a failure and leaves
// `path` as it was. Safe to call from any thread.
bool DownloadUrlToFile(const std::string& url, const std::string& path,
                       const DownloadLimits& limits);

// The service as callers receive it, so tests can stand in for it.
using UrlDownloader =
    std::function<bool(const std::string& url, const std::string& path, const DownloadLimits&)>;
