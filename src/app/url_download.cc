// The download service on libcurl.
#include "app/url_download.h"

#include <curl/curl.h>

#include <cstdlib>
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
  bool tooLarge = false;
};

// Returning less than offered makes libcurl end the transfer with an error.
std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* target = static_cast<TransferTarget*>(context);
  std::size_t bytes = size * count;
  target->received += bytes;
  if (target->received > target->maxBytes) {
    target->tooLarge = true;
    return 0;
  }
  if (!target->file->Append(std::string_view(data, bytes))) return 0;
  return bytes;
}

// A non-zero answer aborts the transfer.
int CheckCancel(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(cancel)->load() ? 1 : 0;
}

bool ConfigureCancel(CURL* handle, const DownloadLimits& limits) {
  if (limits.cancel == nullptr) return true;
  return curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckCancel) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_XFERINFODATA, limits.cancel) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

// libcurl has its authorities fixed when it is built; the variables that OpenSSL
// honours are honoured here too, so a user (or a test) can name others.
bool ConfigureAuthorities(CURL* handle) {
  const char* file = std::getenv("SSL_CERT_FILE");
  const char* folder = std::getenv("SSL_CERT_DIR");
  return (file == nullptr || *file == 0 ||
          curl_easy_setopt(handle, CURLOPT_CAINFO, file) == CURLE_OK) &&
         (folder == nullptr || *folder == 0 ||
          curl_easy_setopt(handle, CURLOPT_CAPATH, folder) == CURLE_OK);
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
         curl_easy_setopt(handle, CURLOPT_WRITEDATA, target) == CURLE_OK &&
         ConfigureCancel(handle, limits) && ConfigureAuthorities(handle);
}

long GetStatus(CURL* handle) {
  long status = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
  return status;
}

std::string DescribeFailure(CURLcode code, const TransferTarget& target) {
  if (target.tooLarge) return "The file is larger than allowed.";
  if (code == CURLE_OPERATION_TIMEDOUT) return "The server did not answer in time.";
  return std::string(curl_easy_strerror(code)) + ".";
}

}  // namespace

bool DownloadUrlToFile(const std::string& url, const std::string& path,
                       const DownloadLimits& limits) {
  std::string error;
  return DownloadUrlToFileWithReason(url, path, limits, error);
}

bool DownloadUrlToFileWithReason(const std::string& url, const std::string& path,
                                 const DownloadLimits& limits, std::string& error) {
  InitCurlOnce();
  CurlHandle handle(curl_easy_init());
  CTempFile file(path);
  if (!handle || !file.IsCreated()) {
    error = "The download could not start.";
    return false;
  }
  TransferTarget target{&file, 0, limits.maxBytes};
  if (!Configure(handle.get(), url, limits, &target)) {
    error = "The address cannot be fetched.";
    return false;
  }
  const CURLcode code = curl_easy_perform(handle.get());
  if (code != CURLE_OK) {
    error = DescribeFailure(code, target);
    return false;
  }
  const long status = GetStatus(handle.get());
  if (status < 200 || status >= 300) {
    error = "The server answered " + std::to_string(status) + ".";
    return false;
  }
  if (!file.Commit()) {
    error = "The file could not be saved.";
    return false;
  }
  return true;
}
