#include "node/dead_letter_relay.h"

#include <cstdio>

#include "node/file_bundle.h"
#include "node/fleet_protocol.h"

namespace quillaro {

std::string RelayGivenUpJobs(BrokerConnection& broker, const volatile std::sig_atomic_t& stop) {
  if (!broker.Consume(fleet::kGivenUpQueue, 16)) return broker.error();
  std::fprintf(stderr, "quillaro-node: relaying jobs given up by the broker from %s\n",
               fleet::kGivenUpQueue);
  while (!stop) {
    std::optional<BrokerMessage> job = broker.Receive(500);
    if (!job) {
      if (!broker.error().empty()) return broker.error();
      continue;
    }
    const std::string reason =
        "given up by the broker at the jobs queue's delivery limit (its nodes died or handed it "
        "back too often)";
    if (fleet::IsJobId(job->message_id) && fleet::IsResultsQueue(job->reply_to)) {
      BrokerMessage result;
      result.message_id = job->message_id;
      result.headers[fleet::kStatusHeader] = fleet::kStatusFailed;
      result.headers[fleet::kReasonHeader] = reason;
      result.body = EncodeBundle({});
      // A results queue that is gone has nobody to tell: not an error.
      if (broker.Publish(fleet::kReplyExchange, job->reply_to, result) ==
          BrokerConnection::PublishResult::kFailed) {
        return broker.error();
      }
    }
    BrokerMessage dead = *job;
    dead.headers[fleet::kReasonHeader] = reason;
    if (broker.Publish(fleet::kDeadExchange, fleet::kDeadLetterQueue, dead) !=
            BrokerConnection::PublishResult::kConfirmed ||
        !broker.Ack(job->delivery_tag)) {
      return broker.error();
    }
    std::fprintf(stderr, "quillaro-node: job %s given up by the broker; its collector told\n",
                 job->message_id.c_str());
  }
  return {};
}

}  // namespace quillaro
