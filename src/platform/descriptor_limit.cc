// The process's limit on open descriptors.
#include "platform/descriptor_limit.h"

#include <sys/resource.h>

#include <limits>

std::size_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(limit.rlim_cur);
}
