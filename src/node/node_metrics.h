#ifndef QUILLARO_NODE_NODE_METRICS_H_
#define QUILLARO_NODE_NODE_METRICS_H_

#include <atomic>
#include <memory>
#include <string>

namespace quillaro {

// The node's Prometheus metrics and its health, served over HTTP by
// Serve(): GET /metrics in the Prometheus text format (prometheus-cpp's
// serializer), GET /healthz 200 while the node's loop has ticked within the
// last minute, 503 once it has not (a hung node, for the liveness probe).
// The counting calls come from the node's one serving thread; the HTTP
// requests are answered on civetweb's threads. Stops serving when destroyed.
class NodeMetrics {
 public:
  NodeMetrics();
  NodeMetrics(const NodeMetrics&) = delete;
  NodeMetrics& operator=(const NodeMetrics&) = delete;
  ~NodeMetrics();

  // Starts the HTTP server on `listen` (civetweb's listening_ports syntax:
  // "9464" or "127.0.0.1:9464"). False with the reason in `*error`.
  bool Serve(const std::string& listen, std::string* error);

  // The node's loop is alive: call at least every few seconds.
  void Tick();
  void Connected(bool connected);
  void JobTaken(double queue_wait_seconds);
  // The job under way ended: with its results sent (`succeeded` when the
  // service finished it, false when it was refused), failed, handed back or
  // dead-lettered.
  void JobSucceeded(double seconds);
  void JobRefused(double seconds);
  void JobFailed();
  void JobDeadLettered();
  void JobEnded();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillaro

#endif  // QUILLARO_NODE_NODE_METRICS_H_
