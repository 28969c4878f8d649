#include "node/broker_credentials.h"

#include <charconv>
#include <cstdlib>

#include "node/file_bundle.h"
#include "node/fleet_protocol.h"

namespace quillaro {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

bool UrlHasPassword(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = url.find_first_of("/?#", start);
  const std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
  const size_t at = authority.rfind('@');
  return at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos;
}

std::optional<BrokerEndpoint> ResolveBrokerEndpoint(const std::string& url_flag,
                                                    const std::string& password_file,
                                                    const std::string& ca_file,
                                                    std::string* error) {
  BrokerEndpoint endpoint;
  endpoint.ca_file = ca_file;
  if (!url_flag.empty()) {
    if (UrlHasPassword(url_flag)) {
      *error = "the URL on the command line holds a password, which every user of this machine "
               "can read there: give it in --password-file or QUILLARO_BROKER_PASSWORD";
      return std::nullopt;
    }
    endpoint.url = url_flag;
  } else {
    endpoint.url = Environment("QUILLARO_BROKER_URL");
    if (endpoint.url.empty()) {
      *error = "no broker: give --url or QUILLARO_BROKER_URL";
      return std::nullopt;
    }
  }
  if (!password_file.empty()) {
    std::optional<std::string> bytes = ReadWholeFile(password_file);
    if (!bytes) {
      *error = "cannot read the password file " + password_file;
      return std::nullopt;
    }
    endpoint.password = bytes->substr(0, bytes->find_first_of("\r\n"));
    if (endpoint.password.empty()) {
      *error = "the password file " + password_file + " is empty";
      return std::nullopt;
    }
  } else {
    endpoint.password = Environment("QUILLARO_BROKER_PASSWORD");
  }
  if (endpoint.password.empty() && !UrlHasPassword(endpoint.url)) {
    *error = "no broker password: give --password-file, QUILLARO_BROKER_PASSWORD or a "
             "QUILLARO_BROKER_URL that holds it";
    return std::nullopt;
  }
  return endpoint;
}

uint64_t ResolveMaxMessageBytes(const std::string& flag) {
  const std::string text = flag.empty() ? Environment("QUILLARO_MAX_MESSAGE_BYTES") : flag;
  if (text.empty()) return fleet::kDefaultMaxMessageBytes;
  uint64_t value = 0;
  auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (code != std::errc() || end != text.data() + text.size() || value == 0) return 0;
  return value;
}

}  // namespace quillaro
