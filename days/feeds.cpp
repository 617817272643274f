// What both systems' fetchers share: the address's shown form, its URL and its cache name.
#include <cstdio>

#include "days/fetch.h"

namespace zorvani {
namespace days {

std::string AddressHost(const std::string& address) {
  const std::size_t scheme = address.find("://");
  if (scheme == std::string::npos) return "(no address)";
  const std::size_t start = scheme + 3;
  std::size_t end = address.find_first_of("/?#", start);
  if (end == std::string::npos) end = address.size();
  std::string authority = address.substr(start, end - start);
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  // A password holding a bare '/', '?' or '#' ends the host early, and what is left of
  // it would be shown as one: such an address shows no host.
  const std::size_t colon = authority.rfind(':');
  const bool port = colon != std::string::npos && authority.back() != ']';
  if (port && (authority.find_first_not_of("0123456789", colon + 1) != std::string::npos ||
               address.find('@', end) != std::string::npos)) {
    return address.substr(0, start) + "(address)";
  }
  return address.substr(0, start) + authority;
}

std::string FetchedUrl(const std::string& address) {
  if (address.compare(0, 9, "webcal://") == 0) return "https://" + address.substr(9);
  return address;
}

std::string CacheName(const std::string& address) {
  // FNV-1a, 64 bits: a stable name, nothing to keep secret beyond the address itself.
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : FetchedUrl(address)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace days
}  // namespace zorvani
