// How long the proxy waits for its peers: every wait has an end.
#include "proxy/time_limits.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace {

// Four positive numbers separated by commas; anything else keeps the defaults.
CTimeLimits ReadTimeLimits(const char* text) {
  CTimeLimits limits;
  if (text == nullptr) return limits;
  std::array<long long, 4> values{};
  std::string_view rest(text);
  for (long long& value : values) {
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || value <= 0) return CTimeLimits{};
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    if (!rest.empty() && rest.front() == ',') rest.remove_prefix(1);
  }
  if (!rest.empty()) return CTimeLimits{};
  using std::chrono::milliseconds;
  return {milliseconds(values[0]), milliseconds(values[1]), milliseconds(values[2]),
          milliseconds(values[3])};
}

}  // namespace

const CTimeLimits& GetTimeLimits() {
  static const CTimeLimits limits = ReadTimeLimits(std::getenv("LUMBRA_TIME_LIMITS_MS"));
  return limits;
}

long long SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
