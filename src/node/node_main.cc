// quillaro-node: feeds one Quillaro service folder from the broker's jobs
// queue and sends each job's results back, one job at a time.
//   quillaro-node --service DIR [--url amqp[s]://user@host:port/vhost]
//                 [--password-file F] [--ca-file F] [--service-status F]
//                 [--max-failures N] [--marker-timeout-seconds S]
//                 [--max-message-bytes B] [--heartbeat-seconds S]
//                 [--metrics-listen [ADDRESS:]PORT]
//   quillaro-node --relay-dead-letters [--url ...] [--password-file F] ...
//       tells the collectors of jobs the broker gave up (dead_letter_relay.h)
// A job is acknowledged only once its results are safe with the broker, so
// a node that dies at any point leaves its job to another node. SIGTERM
// (a scale-down, a rollout) lets the job under way finish first.
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "node/broker_connection.h"
#include "node/broker_credentials.h"
#include "node/dead_letter_relay.h"
#include "node/file_bundle.h"
#include "node/fleet_protocol.h"
#include "node/node_metrics.h"
#include "node/service_folder.h"
#include "node/service_status.h"
#include "platform/monotonic_clock.h"

namespace quillaro {
namespace {

struct NodeOptions {
  std::string url;
  std::string password_file;
  std::string ca_file;
  std::string service;
  std::string service_status;  // default SERVICE/status.txt
  int32_t max_failures = 3;
  // A job may legitimately take a while: up to three interpreter runs of at
  // most 61 s each (the service's own limit, WaitSeconds <= 60) and the
  // image output of up to 499 pages after them. Ten minutes covers that.
  uint32_t marker_timeout_seconds = 600;
  uint64_t max_message_bytes = 0;
  uint16_t heartbeat_seconds = 30;
  std::string metrics_listen;  // civetweb's listening_ports syntax; empty: none
  bool relay_dead_letters = false;
};

// The broker's own delivery limit (the jobs queue's policy): a node's own
// limit on failures must stay below it to be the one that gives the reason.
constexpr int32_t kBrokerDeliveryLimit = 10;
constexpr uint32_t kReceiveTimeoutMs = 500;
constexpr uint32_t kMarkerPollMs = 10;
constexpr auto kReconnectDelay = std::chrono::seconds(1);

// Set by SIGTERM / SIGINT; read by the one thread that serves jobs.
volatile std::sig_atomic_t stop_requested = 0;
extern "C" void RequestStop(int) { stop_requested = 1; }

void Say(const std::string& line) { std::fprintf(stderr, "quillaro-node: %s\n", line.c_str()); }

bool ParseOptions(int argc, char** argv, NodeOptions* options) {
  std::string max_message_bytes;
  for (int i = 1; i < argc; i += 2) {
    const std::string_view flag = argv[i];
    if (flag == "--relay-dead-letters") {
      options->relay_dead_letters = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[i + 1];
    if (flag == "--url") options->url = value;
    else if (flag == "--password-file") options->password_file = value;
    else if (flag == "--ca-file") options->ca_file = value;
    else if (flag == "--service") options->service = value;
    else if (flag == "--service-status") options->service_status = value;
    else if (flag == "--max-failures") options->max_failures = std::atoi(value);
    else if (flag == "--marker-timeout-seconds") options->marker_timeout_seconds = std::atoi(value);
    else if (flag == "--max-message-bytes") max_message_bytes = value;
    else if (flag == "--heartbeat-seconds") options->heartbeat_seconds = std::atoi(value);
    else if (flag == "--metrics-listen") options->metrics_listen = value;
    else return false;
  }
  if (options->service_status.empty()) options->service_status = options->service + "/status.txt";
  options->max_message_bytes = ResolveMaxMessageBytes(max_message_bytes);
  if (options->relay_dead_letters) return options->service.empty();
  return !options->service.empty() && options->max_failures >= 1 &&
         options->max_failures < kBrokerDeliveryLimit && options->marker_timeout_seconds >= 1 &&
         options->max_message_bytes > fleet::kHeaderAllowanceBytes;
}

BrokerMessage Result(const BrokerMessage& job, const char* status, const std::string& reason,
                     std::string body) {
  BrokerMessage result;
  result.message_id = job.message_id;
  result.headers[fleet::kStatusHeader] = status;
  if (!reason.empty()) result.headers[fleet::kReasonHeader] = reason;
  result.body = std::move(body);
  return result;
}

class Node {
 public:
  Node(const NodeOptions& options, NodeMetrics& metrics)
      : options_(options), folder_(options.service), metrics_(metrics) {}

  // Serves jobs until the connection fails (returns its reason) or a stop
  // was requested and no job is under way (returns empty).
  std::string Serve(BrokerConnection& broker) {
    for (;;) {
      if (!WaitUntilServiceRuns(broker)) return stop_requested ? std::string() : broker.error();
      if (!broker.Consume(fleet::kJobsQueue, 1)) return broker.error();
      Say("waiting for jobs on " + std::string(fleet::kJobsQueue));
      for (;;) {
        metrics_.Tick();
        if (stop_requested || !ServiceStillRuns()) break;
        std::optional<BrokerMessage> job = broker.Receive(kReceiveTimeoutMs);
        if (!job) {
          if (!broker.error().empty()) return broker.error();
          continue;
        }
        if (!Handle(broker, *job)) return broker.error();
        if (must_wait_for_idle_) break;
      }
      // Take no job while stopping, while the service does not run, or
      // until an abandoned job is over: cancel, and hand back what is
      // already on its way.
      if (!broker.CancelConsume()) return broker.error();
      while (std::optional<BrokerMessage> late = broker.Receive(200)) {
        if (!broker.Reject(late->delivery_tag)) return broker.error();
      }
      if (!broker.error().empty()) return broker.error();
      if (stop_requested) return {};
      if (must_wait_for_idle_ && !WaitForAbandonedJob(broker)) {
        return stop_requested ? std::string() : broker.error();
      }
    }
  }

 private:
  // Waits (keeping the connection alive) until the service reports running,
  // and clears what an earlier run of it left. False on a stop request or a
  // broken connection.
  bool WaitUntilServiceRuns(BrokerConnection& broker) {
    bool said = false;
    for (;;) {
      metrics_.Tick();
      if (stop_requested) return false;
      ServiceStatus status = ReadServiceStatus(options_.service_status);
      if (status.running) {
        if (status.starts != service_starts_) {
          // A service that (re)started has forgotten what was in in/; nobody
          // waits for those jobs any more (their nodes handed them back).
          folder_.ClearStaleJobs();
          service_starts_ = status.starts;
          Say("service running; its folder cleared of stale jobs");
        }
        return true;
      }
      if (!said) Say("waiting for the service to report running (" + options_.service_status + ")");
      said = true;
      if (!broker.Pump(kReceiveTimeoutMs)) return false;
    }
  }

  bool ServiceStillRuns() const {
    ServiceStatus status = ReadServiceStatus(options_.service_status);
    return status.running && status.starts == service_starts_;
  }

  // After a marker timeout the service may still be working on the job the
  // node gave up: the next job would wait behind it, and its late results
  // would land beside the next job's. Take nothing until it is over (its
  // marker comes), or until the service restarts.
  bool WaitForAbandonedJob(BrokerConnection& broker) {
    Say("taking no job until the service has finished " + abandoned_);
    for (;;) {
      metrics_.Tick();
      if (stop_requested) return false;
      if (folder_.HasMarker(abandoned_) || !ServiceStillRuns()) break;
      if (!broker.Pump(kReceiveTimeoutMs)) return false;
    }
    folder_.RemoveJobFiles(abandoned_);
    Say("the service is idle again");
    abandoned_.clear();
    must_wait_for_idle_ = false;
    return true;
  }

  // Runs one delivery to its end: acknowledged, given back, or dead-lettered.
  // False when the broker failed us (the delivery then returns to the queue).
  bool Handle(BrokerConnection& broker, const BrokerMessage& job) {
    metrics_.JobTaken(QueueWaitSeconds(job));
    const bool ok = Run(broker, job);
    metrics_.JobEnded();
    return ok;
  }

  // Seconds since the submitter sent the job (its header kSubmittedAtHeader,
  // wall-clock milliseconds: the machines' clocks are assumed close); -1
  // when it says nothing usable.
  static double QueueWaitSeconds(const BrokerMessage& job) {
    auto it = job.headers.find(fleet::kSubmittedAtHeader);
    if (it == job.headers.end()) return -1;
    int64_t sent_ms = 0;
    auto [end, code] = std::from_chars(it->second.data(), it->second.data() + it->second.size(), sent_ms);
    if (code != std::errc()) return -1;
    const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch()).count();
    return now_ms >= sent_ms ? (now_ms - sent_ms) / 1000.0 : 0.0;
  }

  bool Run(BrokerConnection& broker, const BrokerMessage& job) {
    const uint64_t started_ms = MonotonicMilliseconds();
    if (!fleet::IsJobId(job.message_id)) {
      return DeadLetter(broker, job, "the message has no valid job id", false);
    }
    if (!fleet::IsResultsQueue(job.reply_to)) {
      // Results go only to a batch's results queue: a job must not make the
      // node publish into the jobs queue or another system's queue.
      return DeadLetter(broker, job, "reply-to is not a results queue", false);
    }
    if (job.body.size() + fleet::kHeaderAllowanceBytes > options_.max_message_bytes) {
      metrics_.JobRefused((MonotonicMilliseconds() - started_ms) / 1000.0);
      return Answer(broker, job, Result(job, fleet::kStatusRefused,
                                        "the job's " + std::to_string(job.body.size()) +
                                            " bytes exceed the message limit of " +
                                            std::to_string(options_.max_message_bytes) + " bytes",
                                        EncodeBundle({})),
                    {});
    }
    const auto name_header = job.headers.find(fleet::kJobNameHeader);
    const std::string name = ServiceFolder::InboxName(
        job.message_id, name_header == job.headers.end() ? std::string() : name_header->second);
    folder_.RemoveJobFiles(name);
    std::string reason;
    bool finished = false;
    bool handed_back = false;
    if (folder_.Submit(name, job.body, &reason)) {
      const uint64_t deadline = MonotonicMilliseconds() + uint64_t{options_.marker_timeout_seconds} * 1000;
      uint64_t next_status_check_ms = 0;
      bool cancelled = false;
      for (;;) {
        if (folder_.HasMarker(name)) {
          finished = true;
          break;
        }
        if (stop_requested && !cancelled) {
          // Finish this job, take no other: the prefetch of one holds the
          // rest back, cancelling makes it final.
          Say("stop requested: finishing job " + job.message_id + " first");
          if (!broker.CancelConsume()) return false;
          cancelled = true;
        }
        // The status file is read twice a second, not at every poll: in a
        // pod it holds all the service's standard error and may grow.
        const uint64_t now_ms = MonotonicMilliseconds();
        if (now_ms >= next_status_check_ms && !ServiceStillRuns()) {
          // A stopping service will not finish it: hand it back at once, to
          // another node, rather than after the marker timeout.
          handed_back = true;
          reason = "the service stopped";
          break;
        }
        if (now_ms >= next_status_check_ms) next_status_check_ms = now_ms + kReceiveTimeoutMs;
        if (MonotonicMilliseconds() >= deadline) {
          reason = "no completion marker within " +
                   std::to_string(options_.marker_timeout_seconds) + " s";
          abandoned_ = name;
          must_wait_for_idle_ = true;
          break;
        }
        // Keeps the heartbeats going both ways while the service works.
        metrics_.Tick();
        if (!broker.Pump(kMarkerPollMs)) return false;
      }
    }
    if (!finished) {
      if (!must_wait_for_idle_) folder_.RemoveJobFiles(name);
      if (handed_back) {
        // Cancelled first: the broker would give it straight back to us,
        // and every such round counts towards its delivery limit.
        Say("job " + job.message_id + " handed back: " + reason);
        return broker.CancelConsume() && broker.Reject(job.delivery_tag);
      }
      metrics_.JobFailed();
      const int64_t failures = job.failed_deliveries + 1;
      Say("job " + job.message_id + " failed (" + std::to_string(failures) + " of " +
          std::to_string(options_.max_failures) + "): " + reason);
      // Handing it back with our consumer still on would give it straight
      // back to us when we are to wait for our service first.
      if (must_wait_for_idle_ && !broker.CancelConsume()) return false;
      if (failures < options_.max_failures) return broker.Reject(job.delivery_tag);
      return DeadLetter(broker, job, reason + "; failed " + std::to_string(failures) + " times",
                        true);
    }
    BrokerMessage result =
        Result(job, fleet::kStatusDone, {}, EncodeBundle(folder_.CollectResults(name)));
    if (result.body.size() + fleet::kHeaderAllowanceBytes > options_.max_message_bytes) {
      // Carrying results in pieces would make a job's results arrive in
      // parts that a redelivery may repeat or leave half done: refuse them,
      // at once and once, rather than fail the publish again and again.
      result = Result(job, fleet::kStatusRefused,
                      "the results' " + std::to_string(result.body.size()) +
                          " bytes exceed the message limit of " +
                          std::to_string(options_.max_message_bytes) + " bytes",
                      EncodeBundle({}));
    }
    const bool ok = Answer(broker, job, result, name);
    const double seconds = (MonotonicMilliseconds() - started_ms) / 1000.0;
    if (ok && result.headers[fleet::kStatusHeader] == fleet::kStatusDone) {
      metrics_.JobSucceeded(seconds);
    } else if (ok) {
      metrics_.JobRefused(seconds);
    }
    return ok;
  }

  // Publishes `result` to the job's results queue, removes the job's files
  // and acknowledges it. A results queue that is gone (its collector gave up
  // and it expired) makes the job a dead letter: nobody would read it.
  bool Answer(BrokerConnection& broker, const BrokerMessage& job, const BrokerMessage& result,
              const std::string& name) {
    switch (broker.Publish(fleet::kReplyExchange, job.reply_to, result)) {
      case BrokerConnection::PublishResult::kFailed:
        return false;
      case BrokerConnection::PublishResult::kUnroutable:
        if (!name.empty()) folder_.RemoveJobFiles(name);
        return DeadLetter(broker, job, "its results queue is gone", false);
      case BrokerConnection::PublishResult::kConfirmed:
        break;
    }
    if (!name.empty()) folder_.RemoveJobFiles(name);
    return broker.Ack(job.delivery_tag);
  }

  // Moves the job to the dead-letter queue with `reason`, tells its
  // collector when `tell` (and its results queue is one), and acknowledges
  // it.
  bool DeadLetter(BrokerConnection& broker, const BrokerMessage& job, const std::string& reason,
                  bool tell) {
    Say("job " + job.message_id + " dead-lettered: " + reason);
    metrics_.JobDeadLettered();
    BrokerMessage dead = job;
    dead.headers[fleet::kReasonHeader] = reason;
    if (broker.Publish(fleet::kDeadExchange, fleet::kDeadLetterQueue, dead) !=
        BrokerConnection::PublishResult::kConfirmed) {
      return false;
    }
    if (tell && fleet::IsResultsQueue(job.reply_to) &&
        broker.Publish(fleet::kReplyExchange, job.reply_to,
                       Result(job, fleet::kStatusFailed, reason, EncodeBundle({}))) ==
            BrokerConnection::PublishResult::kFailed) {
      return false;
    }
    return broker.Ack(job.delivery_tag);
  }

  const NodeOptions& options_;
  ServiceFolder folder_;
  NodeMetrics& metrics_;
  uint64_t service_starts_ = 0;
  std::string abandoned_;
  bool must_wait_for_idle_ = false;
};

}  // namespace
}  // namespace quillaro

int main(int argc, char** argv) {
  quillaro::NodeOptions options;
  if (!quillaro::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: quillaro-node --service DIR [--url amqp[s]://user@host:port/vhost]\n"
                 "         [--password-file F] [--ca-file F] [--service-status F (DIR/status.txt)]\n"
                 "         [--max-failures N (3)] [--marker-timeout-seconds S (600)]\n"
                 "         [--max-message-bytes B (16777216)] [--heartbeat-seconds S (30)]\n"
                 "         [--metrics-listen [ADDRESS:]PORT]\n"
                 "       quillaro-node --relay-dead-letters [--url URL] [--password-file F] ...\n"
                 "  the URL may come from QUILLARO_BROKER_URL, the password from\n"
                 "  QUILLARO_BROKER_PASSWORD, the message limit from QUILLARO_MAX_MESSAGE_BYTES\n");
    return 2;
  }
  std::string error;
  std::optional<quillaro::BrokerEndpoint> endpoint =
      quillaro::ResolveBrokerEndpoint(options.url, options.password_file, options.ca_file, &error);
  if (!endpoint) {
    quillaro::Say(error);
    return 2;
  }
  endpoint->heartbeat_seconds = options.heartbeat_seconds;
  // The node is PID 1 of its container: without a handler of its own it
  // would ignore SIGTERM and die by SIGKILL at the end of the grace period,
  // mid-job.
  std::signal(SIGTERM, quillaro::RequestStop);
  std::signal(SIGINT, quillaro::RequestStop);
  quillaro::NodeMetrics metrics;
  if (!options.metrics_listen.empty() && !metrics.Serve(options.metrics_listen, &error)) {
    quillaro::Say("metrics: " + error);
    return 1;
  }
  quillaro::Node node(options, metrics);
  // The broker may be restarting, or not up yet: keep trying. Whatever job
  // was under way when the connection went is the broker's to redeliver.
  while (!quillaro::stop_requested) {
    std::unique_ptr<quillaro::BrokerConnection> broker =
        quillaro::BrokerConnection::Open(*endpoint, &error);
    if (broker) {
      // A publish held back by a broker's resource alarm is not a hung node.
      broker->set_wait_hook([&metrics] { metrics.Tick(); });
      metrics.Connected(true);
      error = options.relay_dead_letters ? quillaro::RelayGivenUpJobs(*broker, quillaro::stop_requested)
                                         : node.Serve(*broker);
      metrics.Connected(false);
    }
    if (quillaro::stop_requested) break;
    quillaro::Say("broker: " + error + "; reconnecting");
    std::this_thread::sleep_for(quillaro::kReconnectDelay);
  }
  quillaro::Say("stopped");
  return 0;
}
