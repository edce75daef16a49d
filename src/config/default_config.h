// The built-in default configuration, embedded at build time from resources/default-config.xml.
#pragma once

#include <string_view>

// The file's exact bytes (defined by the build's generated source).
std::string_view kDefaultConfigXml();
