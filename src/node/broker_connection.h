#ifndef QUILLARO_NODE_BROKER_CONNECTION_H_
#define QUILLARO_NODE_BROKER_CONNECTION_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace quillaro {

// One message as the fleet programs see it: its id (the job id), the queue
// its answer goes to, string headers, and the body's bytes.
struct BrokerMessage {
  std::string message_id;
  std::string reply_to;
  std::map<std::string, std::string> headers;
  std::string body;
  // Deliveries of this message that were given up before this one (a node
  // died holding it, or turned it back); 0 on a first delivery.
  int64_t failed_deliveries = 0;
  uint64_t delivery_tag = 0;  // names it in Ack / Reject; 0 when not received
};

// How to reach the broker. The URL carries no password when it comes from a
// command line (see broker_credentials.h); `password` then does.
struct BrokerEndpoint {
  std::string url;       // amqp[s]://user[:password]@host[:port]/vhost
  std::string password;  // used when the URL has none
  // amqps:// only: the CA certificates (PEM) that the broker's certificate
  // must chain to; its host name must match the URL's host. Empty: the
  // system's default CA store.
  std::string ca_file;
  // AMQP heartbeat period: both sides send a heartbeat when they have sent
  // nothing else for this long, and either gives the connection up after
  // twice this long without hearing from the other.
  uint16_t heartbeat_seconds = 30;
};

// One AMQP 0-9-1 connection with one channel to a RabbitMQ broker, through
// the C client librabbitmq. Every call blocks the calling thread, never
// longer than its deadline (heartbeats bound the waits that have none of
// their own); one thread uses an object at a time. A call that fails returns
// false / nullopt and leaves the reason in error(); the connection is then
// unusable and the owner makes a new one (the broker gives every
// unacknowledged delivery to another consumer as soon as the connection is
// gone). Closes the connection when destroyed.
class BrokerConnection {
 public:
  // Connects to the endpoint (TLS with certificate and host-name checks for
  // amqps://), logs in, opens the channel and switches it to publisher
  // confirms. nullptr on failure, with the reason in `*error` (never the
  // password).
  static std::unique_ptr<BrokerConnection> Open(const BrokerEndpoint& endpoint,
                                                std::string* error);
  BrokerConnection(const BrokerConnection&) = delete;
  BrokerConnection& operator=(const BrokerConnection&) = delete;
  ~BrokerConnection();

  // Declares a durable quorum queue and binds it to `exchange` under its
  // own name; its other properties (expiry, limits, dead-lettering) come
  // from the broker's policies. Declaring an existing queue with the same
  // arguments does nothing.
  bool DeclareQueue(const std::string& queue, const std::string& exchange);
  // Whether `queue` exists, without needing the right to create it: nullopt
  // when the broker failed us. A missing queue closes the channel, so the
  // connection is unusable afterwards whatever the answer.
  std::optional<bool> QueueExists(const std::string& queue);
  bool DeleteQueue(const std::string& queue);

  enum class PublishResult {
    kConfirmed,   // the broker has it (on disk, in the quorum's majority)
    kUnroutable,  // no queue of that name: the broker returned it
    kFailed,      // see error(); the connection is unusable
  };
  // Sends a persistent message through `exchange` with `routing_key`, with
  // the mandatory flag, and waits at most `confirm_timeout_ms` for the
  // broker's confirm. Deliveries that arrive meanwhile are kept for
  // Receive().
  PublishResult Publish(const std::string& exchange, const std::string& routing_key,
                        const BrokerMessage& message, uint32_t confirm_timeout_ms = 120000);

  // Starts delivering `queue` to this connection, at most `prefetch`
  // unacknowledged messages at a time, each kept until Ack or Reject.
  bool Consume(const std::string& queue, uint16_t prefetch);
  // Stops the deliveries Consume started; deliveries already on their way
  // still arrive (the owner hands them back with Reject). True when none was
  // started.
  bool CancelConsume();
  // The next delivery, or nullopt after `timeout_ms` without one (error()
  // empty) or on failure (error() says why).
  std::optional<BrokerMessage> Receive(uint32_t timeout_ms);
  // Reads and handles whatever the broker sends for `timeout_ms` (heartbeats
  // both ways, flow control, a close), keeping deliveries for Receive(). For
  // a caller that waits on something else meanwhile: without it a broken
  // connection would go unnoticed, and the broker would take a healthy but
  // silent client for a dead one. False when the connection failed.
  bool Pump(uint32_t timeout_ms);
  bool Ack(uint64_t delivery_tag);
  // Gives the delivery back to the queue for another consumer.
  bool Reject(uint64_t delivery_tag);

  // Called about once a second while Publish waits for its confirm (which
  // may take long while the broker blocks publishers): the owner's sign of
  // life for a health check. Runs on the calling thread.
  void set_wait_hook(std::function<void()> hook) { wait_hook_ = std::move(hook); }

  // Whether the broker has said it blocks publishers (memory or disk alarm):
  // a publish then waits until the alarm clears.
  bool blocked() const { return blocked_; }
  // Whether the broker cancelled our consumer (its queue was deleted).
  bool consumer_cancelled() const { return consumer_cancelled_; }
  const std::string& error() const { return error_; }

 private:
  struct State;
  enum class Event { kNothing, kDelivery, kConfirm, kNack, kReturn, kFailed };
  explicit BrokerConnection(std::unique_ptr<State> state);
  bool Check(const char* what);
  // Reads one frame within `timeout_ms` and handles it.
  Event ReadEvent(uint32_t timeout_ms);
  std::unique_ptr<State> state_;
  std::deque<BrokerMessage> deliveries_;
  uint64_t published_ = 0;  // publisher-confirm sequence number of the last publish
  bool returned_ = false;
  bool blocked_ = false;
  bool consumer_cancelled_ = false;
  std::string consumer_tag_;
  std::function<void()> wait_hook_;
  std::string error_;
};

}  // namespace quillaro

#endif  // QUILLARO_NODE_BROKER_CONNECTION_H_
