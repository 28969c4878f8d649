#include "node/node_metrics.h"

#include <civetweb.h>
#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <vector>

#include "platform/monotonic_clock.h"

namespace quillaro {
namespace {

// A loop that has not ticked for this long is taken for hung.
constexpr uint64_t kHealthyWithinMs = 60000;

prometheus::Counter& NewCounter(prometheus::Registry& registry, const char* name,
                                const char* help) {
  return prometheus::BuildCounter().Name(name).Help(help).Register(registry).Add({});
}

prometheus::Gauge& NewGauge(prometheus::Registry& registry, const char* name, const char* help) {
  return prometheus::BuildGauge().Name(name).Help(help).Register(registry).Add({});
}

prometheus::Histogram& NewHistogram(prometheus::Registry& registry, const char* name,
                                    const char* help) {
  // From a one-page job's fraction of a second to the marker timeout.
  return prometheus::BuildHistogram().Name(name).Help(help).Register(registry).Add(
      {}, prometheus::Histogram::BucketBoundaries{0.25, 0.5, 1, 2, 5, 10, 30, 60, 120, 300, 600});
}

}  // namespace

struct NodeMetrics::Impl {
  prometheus::Registry registry;
  prometheus::Counter& taken = NewCounter(registry, "quillaro_node_jobs_taken_total",
                                          "Deliveries of jobs this node took");
  prometheus::Counter& succeeded = NewCounter(registry, "quillaro_node_jobs_succeeded_total",
                                              "Jobs whose results were sent");
  prometheus::Counter& refused = NewCounter(registry, "quillaro_node_jobs_refused_total",
                                            "Jobs or results over the message limit");
  prometheus::Counter& failed = NewCounter(registry, "quillaro_node_jobs_failed_total",
                                           "Job attempts that got no completion marker");
  prometheus::Counter& dead = NewCounter(registry, "quillaro_node_jobs_dead_lettered_total",
                                         "Jobs this node moved to the dead-letter queue");
  prometheus::Gauge& in_flight = NewGauge(registry, "quillaro_node_jobs_in_flight",
                                          "Jobs under way on this node (0 or 1)");
  prometheus::Gauge& connected = NewGauge(registry, "quillaro_node_broker_connected",
                                          "1 while the node has a connection to the broker");
  prometheus::Histogram& job_seconds = NewHistogram(
      registry, "quillaro_node_job_duration_seconds", "From taking a job to acknowledging it");
  prometheus::Histogram& wait_seconds = NewHistogram(
      registry, "quillaro_node_queue_wait_seconds", "From submission to a node taking the job");
  std::atomic<uint64_t> last_tick_ms{MonotonicMilliseconds()};
  mg_context* server = nullptr;

  static int ServeMetrics(mg_connection* connection, void* data) {
    auto* impl = static_cast<Impl*>(data);
    const std::string text = prometheus::TextSerializer().Serialize(impl->registry.Collect());
    mg_send_http_ok(connection, "text/plain; version=0.0.4", static_cast<long long>(text.size()));
    mg_write(connection, text.data(), text.size());
    return 200;
  }

  static int ServeHealth(mg_connection* connection, void* data) {
    auto* impl = static_cast<Impl*>(data);
    const uint64_t quiet_ms = MonotonicMilliseconds() - impl->last_tick_ms.load();
    if (quiet_ms > kHealthyWithinMs) {
      mg_send_http_error(connection, 503, "the node's loop has not run for %llu s\n",
                         static_cast<unsigned long long>(quiet_ms / 1000));
      return 503;
    }
    const std::string text = "ok\n";
    mg_send_http_ok(connection, "text/plain", static_cast<long long>(text.size()));
    mg_write(connection, text.data(), text.size());
    return 200;
  }
};

NodeMetrics::NodeMetrics() : impl_(std::make_unique<Impl>()) {}

NodeMetrics::~NodeMetrics() {
  if (impl_->server != nullptr) mg_stop(impl_->server);
}

bool NodeMetrics::Serve(const std::string& listen, std::string* error) {
  const char* options[] = {"listening_ports", listen.c_str(), "num_threads", "2", nullptr};
  mg_callbacks callbacks = {};
  impl_->server = mg_start(&callbacks, impl_.get(), options);
  if (impl_->server == nullptr) {
    *error = "cannot listen on " + listen;
    return false;
  }
  mg_set_request_handler(impl_->server, "/metrics$", &Impl::ServeMetrics, impl_.get());
  mg_set_request_handler(impl_->server, "/healthz$", &Impl::ServeHealth, impl_.get());
  return true;
}

void NodeMetrics::Tick() { impl_->last_tick_ms.store(MonotonicMilliseconds()); }
void NodeMetrics::Connected(bool connected) { impl_->connected.Set(connected ? 1 : 0); }

void NodeMetrics::JobTaken(double queue_wait_seconds) {
  impl_->taken.Increment();
  impl_->in_flight.Set(1);
  if (queue_wait_seconds >= 0) impl_->wait_seconds.Observe(queue_wait_seconds);
}

void NodeMetrics::JobSucceeded(double seconds) {
  impl_->succeeded.Increment();
  impl_->job_seconds.Observe(seconds);
}

void NodeMetrics::JobRefused(double seconds) {
  impl_->refused.Increment();
  impl_->job_seconds.Observe(seconds);
}

void NodeMetrics::JobFailed() { impl_->failed.Increment(); }
void NodeMetrics::JobDeadLettered() { impl_->dead.Increment(); }
void NodeMetrics::JobEnded() { impl_->in_flight.Set(0); }

}  // namespace quillaro
