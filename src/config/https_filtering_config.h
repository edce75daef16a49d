// HTTPS filtering in the configuration: the "httpsfiltering" element of "lumbra".
//   <httpsfiltering enabled="yes"><site>example.com</site>...</httpsfiltering>
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CXmlNode;

struct CHttpsFilteringSettings {
  bool enabled = false;           // missing element or enabled other than "yes": off
  std::vector<std::string> sites;  // as NormalizeHttpsSite gives them, without repeats
};

CHttpsFilteringSettings GetHttpsFiltering(const CXmlNode& document);
// Writes the element whole: the switch and the sites in the order given. False
// when the document has no "lumbra" element.
bool SetHttpsFiltering(CXmlNode& document, const CHttpsFilteringSettings& settings);

// A site as the user wrote it, made comparable: a domain name (lower case, no
// trailing dot, letters, digits, '-', '_' and dots between labels) or an IP
// address (IPv6 with or without brackets). Empty for anything else.
std::optional<std::string> NormalizeHttpsSite(std::string_view text);
