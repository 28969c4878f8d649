#ifndef QUILLARO_NODE_DEAD_LETTER_RELAY_H_
#define QUILLARO_NODE_DEAD_LETTER_RELAY_H_

#include <csignal>
#include <string>

#include "node/broker_connection.h"

namespace quillaro {

// Tells collectors about the jobs the broker gave up. The jobs queue's
// policy dead-letters a job past its delivery limit into kGivenUpQueue,
// which no submitter reads: without this relay its collector would wait for
// it until its time-out. For each such job the relay sends a "failed" result
// to its results queue (when its reply-to is one), moves the job into the
// dead-letter queue with a reason, and acknowledges it, in that order, so a
// relay that dies midway repeats a step rather than skips one. One relay
// (quillaro-node --relay-dead-letters) is enough per broker; more are
// harmless. Runs until `stop` becomes non-zero (returns empty) or the
// connection fails (returns its reason).
std::string RelayGivenUpJobs(BrokerConnection& broker, const volatile std::sig_atomic_t& stop);

}  // namespace quillaro

#endif  // QUILLARO_NODE_DEAD_LETTER_RELAY_H_
