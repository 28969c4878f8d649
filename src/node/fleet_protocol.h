#ifndef QUILLARO_NODE_FLEET_PROTOCOL_H_
#define QUILLARO_NODE_FLEET_PROTOCOL_H_

#include <cstdint>
#include <string>

// What the submit tool, the nodes and the broker's definitions
// (deploy/rabbitmq/definitions.json) agree on. A job is a message published
// to the exchange kSubmitExchange, which routes it to the jobs queue:
// message id = the job id (unique per submission), reply-to = the queue its
// results go to, header "job-name" = the file's name, body = the file's
// bytes. Its results are one message published to kReplyExchange with the
// results queue's name as routing key: message id = the job id, headers
// "status" (kStatus...) and "reason" (for any status but done), body = a file
// bundle (file_bundle.h) of its result files, named as the service named
// them after the job id. Jobs given up go to kDeadExchange with a "reason".
//
// The broker's definitions make the queues, exchanges and policies, so that
// no node and no submitter needs the right to configure them; a submitter
// makes only its own results queue.
namespace quillaro::fleet {

inline constexpr char kSubmitExchange[] = "quillaro.submit";
inline constexpr char kReplyExchange[] = "quillaro.reply";
inline constexpr char kDeadExchange[] = "quillaro.dead";
inline constexpr char kJobsQueue[] = "quillaro.jobs";
inline constexpr char kDeadLetterQueue[] = "quillaro.dead";
// Jobs the broker itself gave up (the jobs queue's delivery limit: their
// nodes died or handed them back too often), on their way to the
// dead-letter queue through a relay that tells their collectors
// (dead_letter_relay.h).
inline constexpr char kGivenUpQueue[] = "quillaro.given-up";
// A batch's results queue: this prefix and 16 lower-case hex digits. Nodes
// publish results only to queues of that form, so a job cannot direct them
// elsewhere; the broker's policy makes such a queue expire once no
// collector has used it for a day.
inline constexpr char kResultsQueuePrefix[] = "quillaro.results.";
inline constexpr size_t kResultsQueueIdDigits = 16;

inline constexpr char kJobNameHeader[] = "job-name";
inline constexpr char kStatusHeader[] = "status";
inline constexpr char kReasonHeader[] = "reason";
// When the submitter sent the job: wall-clock milliseconds since 1970.
inline constexpr char kSubmittedAtHeader[] = "submitted-at-ms";

inline constexpr char kStatusDone[] = "done";          // the service wrote its marker
inline constexpr char kStatusFailed[] = "failed";      // given up; the job is dead-lettered
inline constexpr char kStatusRefused[] = "refused";    // too large for one message

// The largest message, the broker's max_message_size: one setting that the
// broker's configuration, every node and every submitter must share
// (--max-message-bytes). 16 MiB is RabbitMQ 4's default; RabbitMQ 3.10's is
// 128 MiB. A job and its results must each fit; a little is kept for the
// headers.
inline constexpr uint64_t kDefaultMaxMessageBytes = 16ull << 20;
inline constexpr uint64_t kHeaderAllowanceBytes = 64ull << 10;

// Whether `queue` may receive a batch's results.
inline bool IsResultsQueue(const std::string& queue) {
  const std::string prefix = kResultsQueuePrefix;
  if (queue.size() != prefix.size() + kResultsQueueIdDigits || queue.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  for (size_t i = prefix.size(); i < queue.size(); ++i) {
    const char c = queue[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Whether `id` may name a job: 1 to 64 letters, digits and '-'. The node
// names the job's file in the service's in/ after it, so that files of two
// jobs never meet, whatever their submitters called them.
inline bool IsJobId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-')) {
      return false;
    }
  }
  return true;
}

}  // namespace quillaro::fleet

#endif  // QUILLARO_NODE_FLEET_PROTOCOL_H_
