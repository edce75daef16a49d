// The download service on libcurl.
#include "app/url_download.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

#include "platform/atomic_file.h"

namespace {

struct CurlHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlHandleDeleter>;

// curl_global_init is not safe against concurrent callers; once per process.
void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TransferTarget {
  CTempFile* file;
  std::uint64_t received = 0;
  std::uint64_t maxBytes;
};

// Returning less than offered makes libcurl end the transfer with an error.
std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* target = static_cast<TransferTarget*>(context);
  std::size_t bytes = size * count;
  target->received += bytes;
  if (target->received > target->maxBytes) return 0;
  if (!target->file->Append(std::string_view(data, bytes))) return 0;
  return bytes;
}

bool Configure(CURL* handle, const std::string& url, const DownloadLimits& limits,
               TransferTarget* target) {
  // NOSIGNAL: time-outs without SIGALRM, which a threaded program cannot take.
  return curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_TIMEOUT, limits.totalSeconds) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_WRITEDATA, target) == CURLE_OK;
}

bool IsSuccessStatus(CURL* handle) {
  long status = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return false;
  return status >= 200 && status < 300;
}

}  // namespace

bool DownloadUrlToFile(const std::string& url, const std::string& path,
                       const DownloadLimits& limits) {
  InitCurlOnce();
  CurlHandle handle(curl_easy_init());
  if (!handle) return false;
  CTempFile file(path);
  if (!file.IsCreated()) return false;
  TransferTarget target{&file, 0, limits.maxBytes};
  if (!Configure(handle.get(), url, limits, &target)) return false;
  if (curl_easy_perform(handle.get()) != CURLE_OK) return false;
  if (!IsSuccessStatus(handle.get())) return false;
  return file.Commit();
}
