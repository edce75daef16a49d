// A plain-text summary of a loaded configuration, printed at start-up.
#pragma once

#include <string>

class CXmlNode;

// Where the file is, filtering on or off, the proxy port, the corporate proxy
// and every rule's name with its state; one item per line.
std::string DescribeConfig(const std::string& path, const CXmlNode& document);
