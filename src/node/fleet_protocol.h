#ifndef QUILLARO_NODE_FLEET_PROTOCOL_H_
#define QUILLARO_NODE_FLEET_PROTOCOL_H_

#include <cstdint>

#include "node/broker_connection.h"

// What the submit tool and the nodes agree on. A job is a message on the
// jobs queue: message id = the job id (unique per submission), reply-to = the
// queue its results go to, header "job-name" = the file's name, body = the
// file's bytes. Its results are one message on that queue: message id = the
// job id, headers "job-name", "status" (kStatus...) and "reason" (for any
// status but done), body = a file bundle (file_bundle.h) of its result files.
namespace quillaro::fleet {

inline constexpr char kJobsQueue[] = "quillaro.jobs";
inline constexpr char kDeadLetterQueue[] = "quillaro.dead";
inline constexpr char kJobNameHeader[] = "job-name";
inline constexpr char kStatusHeader[] = "status";
inline constexpr char kReasonHeader[] = "reason";

inline constexpr char kStatusDone[] = "done";          // the service wrote its marker
inline constexpr char kStatusFailed[] = "failed";      // given up; the job is dead-lettered
inline constexpr char kStatusRefused[] = "refused";    // too large for one message

// RabbitMQ's default largest message (3.10 and later): 128 MiB. A job and its
// results must each fit in one; a little is kept for the headers.
inline constexpr uint64_t kDefaultMaxMessageBytes = 128ull << 20;
inline constexpr uint64_t kHeaderAllowanceBytes = 64ull << 10;

// The broker's own limit on deliveries given up (x-delivery-limit of the
// jobs queue), for a job whose node dies every time: past it the broker
// dead-letters the job itself, with x-death reason "delivery_limit". A node's
// own limit (--max-failures, which gives the reason) must stay below it. The
// queue's arguments are fixed here, not taken from a setting, since every
// program that declares the queue must give the same ones.
inline constexpr int32_t kBrokerDeliveryLimit = 10;

// Declares the jobs and dead-letter queues (both durable quorum queues), as
// every node and submitter does before using them. False on failure, with
// the reason in broker.error().
inline bool DeclareFleetQueues(BrokerConnection& broker) {
  return broker.DeclareQueue(kDeadLetterQueue) &&
         broker.DeclareQueue(kJobsQueue, kBrokerDeliveryLimit, kDeadLetterQueue);
}

}  // namespace quillaro::fleet

#endif  // QUILLARO_NODE_FLEET_PROTOCOL_H_
