#include "node/broker_connection.h"

#include <amqp.h>
#include <amqp_framing.h>
#include <amqp_ssl_socket.h>
#include <amqp_tcp_socket.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/monotonic_clock.h"
#include "platform/socket_keepalive.h"

namespace quillaro {
namespace {

constexpr amqp_channel_t kChannel = 1;
// The largest frame the broker offers; bodies travel in frames of this size.
constexpr int kFrameMaxBytes = 131072;
// Deadlines of the broker's answers: connecting, the login handshake, and
// every request that waits for a reply (queue.declare, basic.consume, ...).
constexpr int kConnectTimeoutSeconds = 10;
constexpr int kRpcTimeoutSeconds = 30;
// TCP keepalive under the heartbeats: a connection whose peer vanished is
// dropped by the system after about 30 + 3 x 10 s, and one whose sent data
// stays unacknowledged for 60 s at once (a publish into a dead connection
// would otherwise block in the write).
constexpr uint32_t kKeepAliveIdleSeconds = 30;
constexpr uint32_t kKeepAliveIntervalSeconds = 10;
constexpr uint32_t kKeepAliveProbes = 3;
constexpr uint32_t kUnacknowledgedLimitMs = 60000;

amqp_bytes_t Bytes(const std::string& text) {
  amqp_bytes_t bytes;
  bytes.len = text.size();
  bytes.bytes = const_cast<char*>(text.data());
  return bytes;
}

std::string String(amqp_bytes_t bytes) {
  return std::string(static_cast<const char*>(bytes.bytes), bytes.len);
}

struct timeval TimeVal(uint32_t ms) {
  struct timeval tv;
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
  return tv;
}


std::string ReplyText(const amqp_rpc_reply_t& reply) {
  switch (reply.reply_type) {
    case AMQP_RESPONSE_NORMAL:
      return {};
    case AMQP_RESPONSE_NONE:
      return "no reply (missing RPC reply type)";
    case AMQP_RESPONSE_LIBRARY_EXCEPTION:
      return amqp_error_string2(reply.library_error);
    case AMQP_RESPONSE_SERVER_EXCEPTION:
      if (reply.reply.id == AMQP_CONNECTION_CLOSE_METHOD) {
        auto* close = static_cast<amqp_connection_close_t*>(reply.reply.decoded);
        return "connection closed by the broker: " + String(close->reply_text);
      }
      if (reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD) {
        auto* close = static_cast<amqp_channel_close_t*>(reply.reply.decoded);
        return "channel closed by the broker: " + String(close->reply_text);
      }
      return "unexpected broker method";
  }
  return "unknown reply";
}

amqp_table_entry_t TextEntry(const char* key, const std::string& value) {
  amqp_table_entry_t entry;
  entry.key = amqp_cstring_bytes(key);
  entry.value.kind = AMQP_FIELD_KIND_UTF8;  // a long string: any bytes
  entry.value.value.bytes = Bytes(value);
  return entry;
}

std::optional<int64_t> IntegerValue(const amqp_field_value_t& value) {
  switch (value.kind) {
    case AMQP_FIELD_KIND_I8: return value.value.i8;
    case AMQP_FIELD_KIND_U8: return value.value.u8;
    case AMQP_FIELD_KIND_I16: return value.value.i16;
    case AMQP_FIELD_KIND_U16: return value.value.u16;
    case AMQP_FIELD_KIND_I32: return value.value.i32;
    case AMQP_FIELD_KIND_U32: return value.value.u32;
    case AMQP_FIELD_KIND_I64: return value.value.i64;
    case AMQP_FIELD_KIND_U64: return static_cast<int64_t>(value.value.u64);
    default: return std::nullopt;
  }
}

BrokerMessage MessageFrom(const amqp_message_t& amqp_message) {
  BrokerMessage message;
  message.body = String(amqp_message.body);
  const amqp_basic_properties_t& properties = amqp_message.properties;
  if (properties._flags & AMQP_BASIC_MESSAGE_ID_FLAG) message.message_id = String(properties.message_id);
  if (properties._flags & AMQP_BASIC_REPLY_TO_FLAG) message.reply_to = String(properties.reply_to);
  if (properties._flags & AMQP_BASIC_HEADERS_FLAG) {
    for (int i = 0; i < properties.headers.num_entries; ++i) {
      const amqp_table_entry_t& entry = properties.headers.entries[i];
      const std::string key = String(entry.key);
      if (entry.value.kind == AMQP_FIELD_KIND_UTF8 || entry.value.kind == AMQP_FIELD_KIND_BYTES) {
        message.headers[key] = String(entry.value.value.bytes);
      } else if (key == "x-delivery-count") {
        message.failed_deliveries = IntegerValue(entry.value).value_or(0);
      }
    }
  }
  return message;
}

}  // namespace

struct BrokerConnection::State {
  amqp_connection_state_t connection = nullptr;
  bool logged_in = false;
  bool channel_open = false;
  ~State() {
    if (connection == nullptr) return;
    if (channel_open) amqp_channel_close(connection, kChannel, AMQP_REPLY_SUCCESS);
    if (logged_in) amqp_connection_close(connection, AMQP_REPLY_SUCCESS);
    amqp_destroy_connection(connection);
  }
};

BrokerConnection::BrokerConnection(std::unique_ptr<State> state) : state_(std::move(state)) {}
BrokerConnection::~BrokerConnection() = default;

std::unique_ptr<BrokerConnection> BrokerConnection::Open(const BrokerEndpoint& endpoint,
                                                          std::string* error) {
  std::vector<char> url_copy(endpoint.url.begin(), endpoint.url.end());
  url_copy.push_back('\0');
  amqp_connection_info info;
  amqp_default_connection_info(&info);
  if (amqp_parse_url(url_copy.data(), &info) != AMQP_STATUS_OK) {
    // The URL is not repeated: it may hold a password.
    *error = "the broker URL is not of the form amqp[s]://user@host:port/vhost";
    return nullptr;
  }
  // "amqp://host:5672/" names the virtual host "" (the path after the
  // slash), which RabbitMQ has not, so every login would fail and a node
  // would retry forever; the default virtual host "/" is spelt "/%2f".
  if (info.vhost[0] == '\0') {
    *error = "the URL names the empty virtual host (it ends in '/'); write /%2f for the "
             "default virtual host \"/\"";
    return nullptr;
  }
  std::vector<char> password(endpoint.password.begin(), endpoint.password.end());
  password.push_back('\0');
  if (!endpoint.password.empty()) info.password = password.data();

  auto state = std::make_unique<State>();
  state->connection = amqp_new_connection();
  amqp_socket_t* socket = nullptr;  // owned by the connection
  if (info.ssl) {
    if (endpoint.ca_file.empty()) {
      *error = "amqps:// needs the CA certificates that the broker's certificate chains to";
      return nullptr;
    }
    socket = amqp_ssl_socket_new(state->connection);
    if (socket == nullptr) {
      *error = "cannot make a TLS socket";
      return nullptr;
    }
    if (amqp_ssl_socket_set_cacert(socket, endpoint.ca_file.c_str()) != AMQP_STATUS_OK) {
      *error = "cannot read the CA certificates " + endpoint.ca_file;
      return nullptr;
    }
    // The broker must prove its name: a certificate of the right CA for
    // another host is refused as well.
    amqp_ssl_socket_set_verify_peer(socket, 1);
    amqp_ssl_socket_set_verify_hostname(socket, 1);
  } else {
    socket = amqp_tcp_socket_new(state->connection);
  }
  if (socket == nullptr) {
    *error = "cannot make a socket";
    return nullptr;
  }
  struct timeval connect_timeout = {kConnectTimeoutSeconds, 0};
  struct timeval rpc_timeout = {kRpcTimeoutSeconds, 0};
  amqp_set_handshake_timeout(state->connection, &connect_timeout);
  amqp_set_rpc_timeout(state->connection, &rpc_timeout);
  const std::string where = std::string(info.ssl ? "amqps://" : "amqp://") + info.host + ":" +
                            std::to_string(info.port);
  if (int status = amqp_socket_open_noblock(socket, info.host, info.port, &connect_timeout);
      status != AMQP_STATUS_OK) {
    *error = "connect to " + where + ": " + amqp_error_string2(status);
    return nullptr;
  }
  OsError os_error;
  if (!EnableSocketKeepAlive(amqp_get_sockfd(state->connection), kKeepAliveIdleSeconds,
                             kKeepAliveIntervalSeconds, kKeepAliveProbes, kUnacknowledgedLimitMs,
                             &os_error)) {
    *error = "connect to " + where + ": " + os_error.ToString();
    return nullptr;
  }
  amqp_rpc_reply_t reply =
      amqp_login(state->connection, info.vhost, 0, kFrameMaxBytes, endpoint.heartbeat_seconds,
                 AMQP_SASL_METHOD_PLAIN, info.user, info.password);
  if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
    *error = "login to virtual host \"" + std::string(info.vhost) + "\" on " + where + " as \"" +
             info.user + "\": " + ReplyText(reply);
    return nullptr;
  }
  state->logged_in = true;
  amqp_channel_open(state->connection, kChannel);
  if (reply = amqp_get_rpc_reply(state->connection); reply.reply_type != AMQP_RESPONSE_NORMAL) {
    *error = "channel.open: " + ReplyText(reply);
    return nullptr;
  }
  state->channel_open = true;
  amqp_confirm_select(state->connection, kChannel);
  if (reply = amqp_get_rpc_reply(state->connection); reply.reply_type != AMQP_RESPONSE_NORMAL) {
    *error = "confirm.select: " + ReplyText(reply);
    return nullptr;
  }
  return std::unique_ptr<BrokerConnection>(new BrokerConnection(std::move(state)));
}

bool BrokerConnection::Check(const char* what) {
  amqp_rpc_reply_t reply = amqp_get_rpc_reply(state_->connection);
  if (reply.reply_type == AMQP_RESPONSE_NORMAL) return true;
  error_ = std::string(what) + ": " + ReplyText(reply);
  if (reply.reply_type == AMQP_RESPONSE_SERVER_EXCEPTION) {
    if (reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD) state_->channel_open = false;
    if (reply.reply.id == AMQP_CONNECTION_CLOSE_METHOD) state_->logged_in = false;
  }
  return false;
}

bool BrokerConnection::DeclareQueue(const std::string& queue, const std::string& exchange) {
  const std::string quorum = "quorum";
  std::vector<amqp_table_entry_t> entries = {TextEntry("x-queue-type", quorum)};
  amqp_table_t arguments = {static_cast<int>(entries.size()), entries.data()};
  amqp_queue_declare(state_->connection, kChannel, Bytes(queue), /*passive=*/0, /*durable=*/1,
                     /*exclusive=*/0, /*auto_delete=*/0, arguments);
  if (!Check("queue.declare")) return false;
  amqp_queue_bind(state_->connection, kChannel, Bytes(queue), Bytes(exchange), Bytes(queue),
                  amqp_empty_table);
  return Check("queue.bind");
}

std::optional<bool> BrokerConnection::QueueExists(const std::string& queue) {
  amqp_queue_declare(state_->connection, kChannel, Bytes(queue), /*passive=*/1, 0, 0, 0,
                     amqp_empty_table);
  amqp_rpc_reply_t reply = amqp_get_rpc_reply(state_->connection);
  if (reply.reply_type == AMQP_RESPONSE_NORMAL) return true;
  if (reply.reply_type == AMQP_RESPONSE_SERVER_EXCEPTION &&
      reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD &&
      static_cast<amqp_channel_close_t*>(reply.reply.decoded)->reply_code == AMQP_NOT_FOUND) {
    state_->channel_open = false;
    error_ = "queue " + queue + " does not exist";
    return false;
  }
  Check("queue.declare (passive)");
  return std::nullopt;
}

bool BrokerConnection::DeleteQueue(const std::string& queue) {
  amqp_queue_delete(state_->connection, kChannel, Bytes(queue), 0, 0);
  return Check("queue.delete");
}

BrokerConnection::PublishResult BrokerConnection::Publish(const std::string& exchange,
                                                          const std::string& routing_key,
                                                          const BrokerMessage& message,
                                                          uint32_t confirm_timeout_ms) {
  std::vector<amqp_table_entry_t> entries;
  for (const auto& [key, value] : message.headers) {
    amqp_table_entry_t entry;
    entry.key = Bytes(key);
    entry.value.kind = AMQP_FIELD_KIND_UTF8;
    entry.value.value.bytes = Bytes(value);
    entries.push_back(entry);
  }
  amqp_basic_properties_t properties;
  properties._flags = AMQP_BASIC_DELIVERY_MODE_FLAG | AMQP_BASIC_HEADERS_FLAG;
  properties.delivery_mode = AMQP_DELIVERY_PERSISTENT;
  properties.headers = {static_cast<int>(entries.size()), entries.data()};
  if (!message.message_id.empty()) {
    properties._flags |= AMQP_BASIC_MESSAGE_ID_FLAG;
    properties.message_id = Bytes(message.message_id);
  }
  if (!message.reply_to.empty()) {
    properties._flags |= AMQP_BASIC_REPLY_TO_FLAG;
    properties.reply_to = Bytes(message.reply_to);
  }
  returned_ = false;
  // Mandatory: a message that no queue takes comes back (basic.return, just
  // before its confirm) instead of vanishing.
  if (int status = amqp_basic_publish(state_->connection, kChannel, Bytes(exchange),
                                      Bytes(routing_key), /*mandatory=*/1, /*immediate=*/0,
                                      &properties, Bytes(message.body));
      status != AMQP_STATUS_OK) {
    error_ = std::string("basic.publish: ") + amqp_error_string2(status);
    return PublishResult::kFailed;
  }
  ++published_;
  // Publisher confirms: the broker answers basic.ack once the message is
  // safe, basic.nack when it could not take it. A broker that blocks
  // publishers (a resource alarm) holds the confirm back: that time does not
  // count against the deadline, the alarm is the broker's to clear.
  uint64_t waited_ms = 0;
  while (waited_ms < confirm_timeout_ms) {
    const uint64_t started = MonotonicMilliseconds();
    const uint32_t slice = std::min<uint64_t>(confirm_timeout_ms - waited_ms, 1000);
    switch (ReadEvent(slice)) {
      case Event::kConfirm:
        return returned_ ? PublishResult::kUnroutable : PublishResult::kConfirmed;
      case Event::kNack:
        error_ = "the broker refused the message (basic.nack)";
        return PublishResult::kFailed;
      case Event::kFailed:
        error_ = "while publishing: " + error_;
        return PublishResult::kFailed;
      default:
        break;
    }
    if (!blocked_) waited_ms += MonotonicMilliseconds() - started;
    if (wait_hook_) wait_hook_();
  }
  error_ = "no publish confirm from the broker within " + std::to_string(confirm_timeout_ms / 1000) +
           " s";
  return PublishResult::kFailed;
}

bool BrokerConnection::Consume(const std::string& queue, uint16_t prefetch) {
  amqp_basic_qos(state_->connection, kChannel, 0, prefetch, 0);
  if (!Check("basic.qos")) return false;
  amqp_basic_consume_ok_t* ok = amqp_basic_consume(state_->connection, kChannel, Bytes(queue),
                                                   amqp_empty_bytes, 0, /*no_ack=*/0, 0,
                                                   amqp_empty_table);
  if (!Check("basic.consume")) return false;
  consumer_tag_ = String(ok->consumer_tag);
  return true;
}

bool BrokerConnection::CancelConsume() {
  if (consumer_tag_.empty()) return true;
  amqp_basic_cancel(state_->connection, kChannel, Bytes(consumer_tag_));
  consumer_tag_.clear();
  return Check("basic.cancel");
}

BrokerConnection::Event BrokerConnection::ReadEvent(uint32_t timeout_ms) {
  amqp_connection_state_t connection = state_->connection;
  amqp_maybe_release_buffers(connection);
  amqp_frame_t frame;
  struct timeval timeout = TimeVal(timeout_ms);
  // librabbitmq sends our heartbeats while it waits here, and fails the
  // wait when the broker's stop coming.
  int status = amqp_simple_wait_frame_noblock(connection, &frame, &timeout);
  if (status == AMQP_STATUS_TIMEOUT) return Event::kNothing;
  if (status != AMQP_STATUS_OK) {
    error_ = std::string("connection to the broker lost: ") + amqp_error_string2(status);
    return Event::kFailed;
  }
  if (frame.frame_type != AMQP_FRAME_METHOD) return Event::kNothing;
  void* decoded = frame.payload.method.decoded;
  switch (frame.payload.method.id) {
    case AMQP_BASIC_DELIVER_METHOD: {
      const uint64_t tag = static_cast<amqp_basic_deliver_t*>(decoded)->delivery_tag;
      amqp_message_t message;
      amqp_rpc_reply_t reply = amqp_read_message(connection, frame.channel, &message, 0);
      if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
        error_ = "reading a delivery: " + ReplyText(reply);
        return Event::kFailed;
      }
      deliveries_.push_back(MessageFrom(message));
      deliveries_.back().delivery_tag = tag;
      amqp_destroy_message(&message);
      return Event::kDelivery;
    }
    case AMQP_BASIC_RETURN_METHOD: {
      amqp_message_t message;
      amqp_rpc_reply_t reply = amqp_read_message(connection, frame.channel, &message, 0);
      if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
        error_ = "reading a returned message: " + ReplyText(reply);
        return Event::kFailed;
      }
      amqp_destroy_message(&message);
      returned_ = true;
      return Event::kReturn;
    }
    case AMQP_BASIC_ACK_METHOD: {
      auto* ack = static_cast<amqp_basic_ack_t*>(decoded);
      if (ack->delivery_tag == published_ || (ack->multiple && ack->delivery_tag >= published_)) {
        return Event::kConfirm;
      }
      return Event::kNothing;
    }
    case AMQP_BASIC_NACK_METHOD:
      return Event::kNack;
    case AMQP_BASIC_CANCEL_METHOD:
      consumer_cancelled_ = true;
      consumer_tag_.clear();
      error_ = "the broker cancelled our consumer (its queue was deleted)";
      return Event::kFailed;
    case AMQP_CONNECTION_BLOCKED_METHOD:
      blocked_ = true;
      return Event::kNothing;
    case AMQP_CONNECTION_UNBLOCKED_METHOD:
      blocked_ = false;
      return Event::kNothing;
    case AMQP_CHANNEL_CLOSE_METHOD: {
      auto* close = static_cast<amqp_channel_close_t*>(decoded);
      error_ = "channel closed by the broker: " + String(close->reply_text);
      amqp_channel_close_ok_t ok;
      amqp_send_method(connection, frame.channel, AMQP_CHANNEL_CLOSE_OK_METHOD, &ok);
      state_->channel_open = false;
      return Event::kFailed;
    }
    case AMQP_CONNECTION_CLOSE_METHOD: {
      auto* close = static_cast<amqp_connection_close_t*>(decoded);
      error_ = "connection closed by the broker: " + String(close->reply_text);
      amqp_connection_close_ok_t ok;
      amqp_send_method(connection, 0, AMQP_CONNECTION_CLOSE_OK_METHOD, &ok);
      state_->channel_open = false;
      state_->logged_in = false;
      return Event::kFailed;
    }
    default:
      return Event::kNothing;
  }
}

std::optional<BrokerMessage> BrokerConnection::Receive(uint32_t timeout_ms) {
  error_.clear();
  const uint64_t deadline = MonotonicMilliseconds() + timeout_ms;
  while (deliveries_.empty()) {
    const uint64_t now = MonotonicMilliseconds();
    if (now >= deadline) return std::nullopt;
    if (ReadEvent(static_cast<uint32_t>(deadline - now)) == Event::kFailed) return std::nullopt;
  }
  BrokerMessage message = std::move(deliveries_.front());
  deliveries_.pop_front();
  return message;
}

bool BrokerConnection::Pump(uint32_t timeout_ms) {
  const uint64_t deadline = MonotonicMilliseconds() + timeout_ms;
  for (;;) {
    const uint64_t now = MonotonicMilliseconds();
    if (now >= deadline) return true;
    if (ReadEvent(static_cast<uint32_t>(deadline - now)) == Event::kFailed) return false;
  }
}

bool BrokerConnection::Ack(uint64_t delivery_tag) {
  if (int status = amqp_basic_ack(state_->connection, kChannel, delivery_tag, 0);
      status != AMQP_STATUS_OK) {
    error_ = std::string("basic.ack: ") + amqp_error_string2(status);
    return false;
  }
  return true;
}

bool BrokerConnection::Reject(uint64_t delivery_tag) {
  if (int status = amqp_basic_reject(state_->connection, kChannel, delivery_tag, /*requeue=*/1);
      status != AMQP_STATUS_OK) {
    error_ = std::string("basic.reject: ") + amqp_error_string2(status);
    return false;
  }
  return true;
}

}  // namespace quillaro
