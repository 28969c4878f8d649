#ifndef QUILLARO_NODE_SERVICE_STATUS_H_
#define QUILLARO_NODE_SERVICE_STATUS_H_

#include <cstdint>
#include <string>

namespace quillaro {

// What the node knows of its service: the service reports every state change
// as a line "quillaro: Quillaro <state> (...)" on its standard error, which
// its container or the fleet scripts keep in a file (status.txt). A node
// gives the service jobs only while the last such line says "running": a
// service that starts has not watched in/ yet, one that stops will not
// finish what it is given.
struct ServiceStatus {
  bool running = false;
  // How many times the file says the service started running: a change
  // means the service restarted, and what it had in in/ is lost to it.
  uint64_t starts = 0;
};

// Reads the status file at `path`; a missing or unreadable file means not
// running. Reads the whole file each time: it holds a few lines per start.
ServiceStatus ReadServiceStatus(const std::string& path);

}  // namespace quillaro

#endif  // QUILLARO_NODE_SERVICE_STATUS_H_
