// The sites offered to the user as a start for HTTPS filtering.
#pragma once

#include <string>
#include <vector>

class CXmlNode;

// The hosts that the configuration's site rules are written for: rules whose
// `request contains` text carries conditions of its own (the page rules of a
// search engine, say). "www." is left off, a name ending in a dot (any
// top-level domain) gets ".com", and a host another one covers is left out.
std::vector<std::string> SuggestHttpsSites(const CXmlNode& document);
