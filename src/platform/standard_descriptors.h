// Keeps the standard descriptors 0 to 2 occupied.
#pragma once

// Opens /dev/null onto each of the descriptors 0, 1 and 2 that is closed, so that
// no socket or file of the program is ever given one of them (a socket value of
// 0 means "no socket" throughout the proxy). False when /dev/null cannot be opened.
bool OccupyStandardDescriptors();
