// fleet_probe: what the fleet test does on the broker that the fleet
// programs never do, through the same client code.
//   fleet_probe publish URL PASSWORD_FILE EXCHANGE ROUTING_KEY ID REPLY_TO NAME FILE
//       sends FILE as a job with that id, reply-to and name (a forged one);
//       prints confirmed, unroutable or the failure
//   fleet_probe exists URL PASSWORD_FILE QUEUE      prints yes or no
//   fleet_probe drain URL PASSWORD_FILE QUEUE MS    prints "ID STATUS REASON"
//       per message that arrives within MS of the last, acknowledging each
//   fleet_probe reject URL PASSWORD_FILE QUEUE MS   hands every delivery
//       back (requeued) until none comes within MS; prints how many
// Exit 0 when the broker answered, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "node/broker_connection.h"
#include "node/broker_credentials.h"
#include "node/file_bundle.h"
#include "node/fleet_protocol.h"

int main(int argc, char** argv) {
  using quillaro::BrokerConnection;
  if (argc < 5) return 2;
  const std::string command = argv[1];
  std::string error;
  auto endpoint = quillaro::ResolveBrokerEndpoint(argv[2], argv[3], {}, &error);
  std::unique_ptr<BrokerConnection> broker =
      endpoint ? BrokerConnection::Open(*endpoint, &error) : nullptr;
  if (!broker) {
    std::fprintf(stderr, "fleet_probe: %s\n", error.c_str());
    return 1;
  }
  if (command == "publish" && argc == 10) {
    quillaro::BrokerMessage message;
    message.message_id = argv[6];
    message.reply_to = argv[7];
    message.headers[quillaro::fleet::kJobNameHeader] = argv[8];
    message.body = quillaro::ReadWholeFile(argv[9]).value_or("");
    switch (broker->Publish(argv[4], argv[5], message)) {
      case BrokerConnection::PublishResult::kConfirmed: std::puts("confirmed"); return 0;
      case BrokerConnection::PublishResult::kUnroutable: std::puts("unroutable"); return 0;
      case BrokerConnection::PublishResult::kFailed: break;
    }
  } else if (command == "exists" && argc == 5) {
    if (auto exists = broker->QueueExists(argv[4])) {
      std::puts(*exists ? "yes" : "no");
      return 0;
    }
  } else if (command == "drain" && argc == 6) {
    if (broker->Consume(argv[4], 100)) {
      while (auto message = broker->Receive(static_cast<uint32_t>(std::atoi(argv[5])))) {
        const auto field = [&](const char* key) {
          auto it = message->headers.find(key);
          return it == message->headers.end() ? std::string("-") : it->second;
        };
        std::printf("%s %s %s\n", message->message_id.c_str(),
                    field(quillaro::fleet::kStatusHeader).c_str(),
                    field(quillaro::fleet::kReasonHeader).c_str());
        if (!broker->Ack(message->delivery_tag)) break;
      }
      if (broker->error().empty()) return 0;
    }
  } else if (command == "reject" && argc == 6) {
    if (broker->Consume(argv[4], 1)) {
      int rejected = 0;
      while (auto message = broker->Receive(static_cast<uint32_t>(std::atoi(argv[5])))) {
        if (!broker->Reject(message->delivery_tag)) break;
        ++rejected;
      }
      std::printf("%d\n", rejected);
      if (broker->error().empty()) return 0;
    }
  } else {
    return 2;
  }
  std::fprintf(stderr, "fleet_probe: %s\n", broker->error().c_str());
  return 1;
}
