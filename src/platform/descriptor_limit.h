// The process's limit on open descriptors.
#pragma once

#include <cstddef>

// Raises the soft limit on open descriptors to the hard limit, so that many
// browser connections fit; returns the soft limit now in force (0 when it cannot
// be read, a very large number when there is none).
std::size_t RaiseDescriptorLimit();
