// Random bytes from the system's generator, for secrets such as the panel's token.
#include "platform/random_bytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

struct CDescriptor {
  explicit CDescriptor(int value) : value(value) {}
  ~CDescriptor() {
    if (value >= 0) ::close(value);
  }
  CDescriptor(const CDescriptor&) = delete;
  CDescriptor& operator=(const CDescriptor&) = delete;
  const int value;
};

}  // namespace

bool ReadRandomBytes(void* buffer, std::size_t size) {
  const CDescriptor random(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (random.value < 0) return false;
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(random.value, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string MakeRandomHexToken(std::size_t byteCount) {
  std::vector<unsigned char> bytes(byteCount);
  if (!ReadRandomBytes(bytes.data(), bytes.size())) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token;
  token.reserve(byteCount * 2);
  for (unsigned char byte : bytes) {
    token.push_back(kDigits[byte >> 4]);
    token.push_back(kDigits[byte & 15]);
  }
  return token;
}
