#ifndef QUILLARO_NODE_BROKER_CREDENTIALS_H_
#define QUILLARO_NODE_BROKER_CREDENTIALS_H_

#include <optional>
#include <string>

#include "node/broker_connection.h"

namespace quillaro {

// Where a fleet program's broker endpoint comes from. A command line is
// readable by every user of the machine (ps, /proc/PID/cmdline), so the URL
// given there (`url_flag`) must hold no password; the password comes from
// the file `password_file` (its first line) or, when none is named, from the
// environment variable QUILLARO_BROKER_PASSWORD. Without `url_flag` the whole
// URL, password included, comes from QUILLARO_BROKER_URL (a Kubernetes
// Secret). `ca_file` is kept for amqps://. nullopt with the reason in
// `*error` when the sources are missing or the command line holds a password.
std::optional<BrokerEndpoint> ResolveBrokerEndpoint(const std::string& url_flag,
                                                    const std::string& password_file,
                                                    const std::string& ca_file,
                                                    std::string* error);

// Whether `url` carries a password (a ':' in the user part before '@').
bool UrlHasPassword(const std::string& url);

// The largest message the broker takes: `flag` when set, else the
// environment's QUILLARO_MAX_MESSAGE_BYTES (the one setting the broker's
// configuration shares), else the default. 0 when a given value is not a
// positive number.
uint64_t ResolveMaxMessageBytes(const std::string& flag);

}  // namespace quillaro

#endif  // QUILLARO_NODE_BROKER_CREDENTIALS_H_
