// quillaro-submit: sends print jobs to the fleet and collects their results.
//   quillaro-submit --out DIR [--url amqp[s]://user@host:port/vhost]
//                   [--password-file F] [--ca-file F] [--batch ID]
//                   [--timeout-seconds S] [--max-message-bytes B] FILE...
// Every file becomes one job; its results land in DIR/NAME/ under the names
// the service gives them, with the job's file name in place of the job id
// the fleet ran it under. A job that failed or was refused leaves
// DIR/NAME.error.txt instead. A job whose results come twice (a node died
// after sending them, before acknowledging its job) is written once. The
// batch's id is printed first and kept with its jobs in DIR/.batch-ID:
// `--batch ID` with the same DIR collects what a run that died left (and
// sends what it had not sent). Ends with the line
//   submit: N submitted, R results, L lost, D duplicates, T s, X jobs/s
// Exit status: 0 every job came back done; 3 every job came back but some
// failed or were refused; 1 some did not come back (or could not be
// written: they stay on the broker for --batch); 2 usage. With
// --dead-letters it lists the dead-letter queue instead.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "node/broker_connection.h"
#include "node/broker_credentials.h"
#include "node/file_bundle.h"
#include "node/fleet_protocol.h"
#include "node/job_name.h"
#include "platform/file_system.h"
#include "platform/monotonic_clock.h"

namespace quillaro {
namespace {

struct SubmitOptions {
  std::string url;
  std::string password_file;
  std::string ca_file;
  std::string out;
  std::string batch;
  uint32_t timeout_seconds = 3600;
  uint64_t max_message_bytes = 0;
  std::vector<std::string> files;
  bool dead_letters = false;
};

struct PendingJob {
  std::string id;
  std::string name;  // the file's name, as the results are to be called
  std::string path;
  bool sent = false;
};

constexpr int kExitDone = 0;
constexpr int kExitLost = 1;
constexpr int kExitUsage = 2;
constexpr int kExitJobsFailed = 3;
constexpr uint32_t kReceiveTimeoutMs = 500;
constexpr uint16_t kResultsPrefetch = 16;
constexpr uint64_t kProgressEveryMs = 1000;

void Say(const std::string& line) { std::fprintf(stderr, "quillaro-submit: %s\n", line.c_str()); }

bool ParseOptions(int argc, char** argv, SubmitOptions* options) {
  std::string max_message_bytes;
  int i = 1;
  for (; i < argc && std::string_view(argv[i]).starts_with("--"); i += 2) {
    const std::string_view flag = argv[i];
    if (flag == "--dead-letters") {
      options->dead_letters = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[i + 1];
    if (flag == "--url") options->url = value;
    else if (flag == "--password-file") options->password_file = value;
    else if (flag == "--ca-file") options->ca_file = value;
    else if (flag == "--out") options->out = value;
    else if (flag == "--batch") options->batch = value;
    else if (flag == "--timeout-seconds") options->timeout_seconds = std::atoi(value);
    else if (flag == "--max-message-bytes") max_message_bytes = value;
    else return false;
  }
  for (; i < argc; ++i) options->files.push_back(argv[i]);
  options->max_message_bytes = ResolveMaxMessageBytes(max_message_bytes);
  if (options->max_message_bytes <= fleet::kHeaderAllowanceBytes) return false;
  if (options->dead_letters) return options->files.empty();
  if (!options->batch.empty() &&
      !fleet::IsResultsQueue(fleet::kResultsQueuePrefix + options->batch)) {
    return false;
  }
  return !options->out.empty() && (!options->files.empty() || !options->batch.empty());
}

// Prints one line per message of the dead-letter queue (job id, job name,
// reason) and leaves them there: they go back to the queue when the
// connection closes unacknowledged. Returns 0, or 1 when the broker failed.
int ListDeadLetters(const BrokerEndpoint& endpoint) {
  std::string error;
  std::unique_ptr<BrokerConnection> broker = BrokerConnection::Open(endpoint, &error);
  if (!broker || !broker->Consume(fleet::kDeadLetterQueue, 1000)) {
    Say("broker: " + (broker ? broker->error() : error));
    return 1;
  }
  while (std::optional<BrokerMessage> dead = broker->Receive(kReceiveTimeoutMs)) {
    const auto field = [&](const char* key) {
      auto it = dead->headers.find(key);
      return it == dead->headers.end() ? std::string("-") : it->second;
    };
    std::printf("dead: %s %s: %s\n", dead->message_id.empty() ? "-" : dead->message_id.c_str(),
                field(fleet::kJobNameHeader).c_str(), field(fleet::kReasonHeader).c_str());
  }
  return broker->error().empty() ? 0 : 1;
}

std::string RandomHex(size_t digits) {
  std::random_device device;
  std::string hex;
  while (hex.size() < digits) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(device() & 0xFF));
    hex += two;
  }
  return hex.substr(0, digits);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Batch {
 public:
  explicit Batch(const SubmitOptions& options)
      : options_(options),
        id_(options.batch.empty() ? RandomHex(fleet::kResultsQueueIdDigits) : options.batch),
        results_queue_(fleet::kResultsQueuePrefix + id_),
        state_path_(options.out + "/.batch-" + id_) {}

  const std::string& id() const { return id_; }

  // Reads what an earlier run of this batch recorded, adds the files given
  // now, and records them. False when the record cannot be kept.
  bool Prepare() {
    std::error_code ignored;
    std::filesystem::create_directories(options_.out, ignored);
    std::set<std::string> names;
    std::set<std::string> done_ids;
    if (std::ifstream state(state_path_); state) {
      std::string line;
      while (std::getline(state, line)) {
        std::istringstream fields(line);
        std::string kind, job_id, name, path;
        std::getline(fields, kind, '\t');
        std::getline(fields, job_id, '\t');
        if (kind == "job" && std::getline(fields, name, '\t') && std::getline(fields, path)) {
          jobs_.push_back({job_id, name, path, false});
          names.insert(name);
        } else if (kind == "sent") {
          for (PendingJob& job : jobs_) job.sent |= job.id == job_id;
        }
      }
      resumed_ = !jobs_.empty();
    } else if (!options_.batch.empty()) {
      Say("no record of batch " + id_ + " in " + options_.out);
      return false;
    }
    // A job whose folder is complete was collected before.
    for (const PendingJob& job : jobs_) {
      if (GetEntryInfo(options_.out + "/" + SafeJobName(job.name)).kind == EntryKind::kFolder ||
          GetEntryInfo(ErrorPath(job.name)).kind == EntryKind::kFile) {
        answered_.insert(job.id);
      }
    }
    state_.open(state_path_, std::ios::app);
    if (!state_) {
      Say("cannot write " + state_path_);
      return false;
    }
    for (const std::string& path : options_.files) {
      const std::string name = BaseName(path);
      if (!names.insert(name).second) {
        Refuse(name, "a file of the same name is already in this batch");
        continue;
      }
      const EntryInfo info = GetEntryInfo(path);
      if (info.kind != EntryKind::kFile) {
        Refuse(name, "not a regular file: " + path);
        continue;
      }
      jobs_.push_back({id_ + "-" + std::to_string(jobs_.size()), name, path, false});
      state_ << "job\t" << jobs_.back().id << '\t' << name << '\t' << path << '\n';
    }
    state_.flush();
    return static_cast<bool>(state_);
  }

  // Sends the jobs not yet confirmed, then collects results until all are in
  // or the time is up. Returns false when the broker failed us; call again
  // on a new connection to go on where it stopped. `*fatal` is set when
  // going on makes no sense (the results queue is gone, a result cannot be
  // written).
  bool Run(BrokerConnection& broker, bool* fatal) {
    if (resumed_ && !checked_queue_) {
      // A resumed batch's queue must still be there: a new empty one would
      // wait for results that expired with the old.
      std::optional<bool> exists = broker.QueueExists(results_queue_);
      if (!exists) return false;
      if (!*exists) {
        Say("the results queue of batch " + id_ + " is gone (it expires a day after its "
            "collector last used it)");
        *fatal = true;
        return false;
      }
      checked_queue_ = true;
    }
    if (!broker.DeclareQueue(results_queue_, fleet::kReplyExchange)) return false;
    if (start_ms_ == 0) start_ms_ = MonotonicMilliseconds();
    for (PendingJob& job : jobs_) {
      if (job.sent || answered_.count(job.id)) continue;
      std::optional<std::string> bytes = ReadWholeFile(job.path);
      if (!bytes) {
        Refuse(job.name, "cannot read " + job.path);
        answered_.insert(job.id);
        continue;
      }
      if (bytes->size() + fleet::kHeaderAllowanceBytes > options_.max_message_bytes) {
        // One job, one message: see docs/fleet.md for why there are no pieces.
        Refuse(job.name, std::to_string(bytes->size()) +
                             " bytes exceed the broker's message limit of " +
                             std::to_string(options_.max_message_bytes) + " bytes");
        answered_.insert(job.id);
        continue;
      }
      BrokerMessage message;
      message.message_id = job.id;
      message.reply_to = results_queue_;
      message.headers[fleet::kJobNameHeader] = job.name;
      message.headers[fleet::kSubmittedAtHeader] = std::to_string(
          std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::system_clock::now().time_since_epoch()).count());
      message.body = std::move(*bytes);
      switch (broker.Publish(fleet::kSubmitExchange, fleet::kJobsQueue, message)) {
        case BrokerConnection::PublishResult::kFailed:
          return false;
        case BrokerConnection::PublishResult::kUnroutable:
          Say("the broker has no jobs queue: load its definitions (docs/fleet.md)");
          *fatal = true;
          return false;
        case BrokerConnection::PublishResult::kConfirmed:
          break;
      }
      job.sent = true;
      state_ << "sent\t" << job.id << '\n';
      state_.flush();
      Progress(false);
    }
    if (!broker.Consume(results_queue_, kResultsPrefetch)) return false;
    const uint64_t deadline = start_ms_ + uint64_t{options_.timeout_seconds} * 1000;
    while (answered_.size() < jobs_.size() && MonotonicMilliseconds() < deadline) {
      std::optional<BrokerMessage> result = broker.Receive(kReceiveTimeoutMs);
      if (!result) {
        if (!broker.error().empty()) return false;
        Progress(false);
        continue;
      }
      if (!Take(*result)) {
        // Not acknowledged: the results stay on the broker for a resume.
        *fatal = true;
        unwritable_ = true;
        return false;
      }
      if (!broker.Ack(result->delivery_tag)) return false;
      Progress(false);
    }
    end_ms_ = MonotonicMilliseconds();
    if (answered_.size() == jobs_.size()) {
      broker.DeleteQueue(results_queue_);
      std::error_code ignored;
      state_.close();
      std::filesystem::remove(state_path_, ignored);
    }
    return true;
  }

  // Prints the closing line; returns the exit status.
  int Finish() {
    Progress(true);
    if (end_ms_ == 0) end_ms_ = MonotonicMilliseconds();
    const double seconds = start_ms_ == 0 ? 0 : (end_ms_ - start_ms_) / 1000.0;
    const size_t results = answered_.size() - refused_locally_;
    const size_t lost = jobs_.size() - answered_.size();
    std::printf("submit: %zu submitted, %zu results, %zu lost, %zu duplicates, %.1f s, %.2f jobs/s\n",
                jobs_.size(), results, lost, duplicates_, seconds,
                seconds > 0 ? results / seconds : 0.0);
    if (failed_ > 0) Say(std::to_string(failed_) + " jobs failed or were refused (see *.error.txt)");
    if (lost > 0) {
      Say(std::string(unwritable_ ? "results could not be written; " : "") +
          "collect the rest with --batch " + id_ + " --out " + options_.out);
      return kExitLost;
    }
    return failed_ > 0 ? kExitJobsFailed : kExitDone;
  }

 private:
  std::string ErrorPath(const std::string& name) const {
    return options_.out + "/" + SafeJobName(name) + ".error.txt";
  }

  // Writes one job's results; false when they cannot be written.
  bool Take(const BrokerMessage& result) {
    const PendingJob* job = nullptr;
    for (const PendingJob& candidate : jobs_) {
      if (candidate.id == result.message_id) job = &candidate;
    }
    if (job == nullptr) return true;  // not ours: nothing to write
    if (answered_.count(result.message_id)) {
      ++duplicates_;  // de-duplicated by job id: the first copy stands
      return true;
    }
    auto status = result.headers.find(fleet::kStatusHeader);
    std::optional<std::vector<BundledFile>> files = DecodeBundle(result.body);
    if (status == result.headers.end() || status->second != fleet::kStatusDone || !files) {
      auto reason = result.headers.find(fleet::kReasonHeader);
      if (!Refuse(job->name, (status == result.headers.end() ? std::string("?") : status->second) +
                                 ": " +
                                 (reason == result.headers.end() ? std::string("malformed results")
                                                                 : reason->second))) {
        return false;
      }
      --refused_locally_;  // it came back from a node
    } else {
      // Into a fresh folder first, renamed when complete: a folder of that
      // name always holds the job's whole results.
      const std::string folder = options_.out + "/" + SafeJobName(job->name);
      const std::string partial = folder + ".partial";
      std::error_code code;
      std::filesystem::remove_all(partial, code);
      std::filesystem::create_directory(partial, code);
      if (code) {
        Say("cannot make " + partial + ": " + code.message());
        return false;
      }
      for (const BundledFile& file : *files) {
        OsError error;
        const std::string name = SafeJobName(RestoreResultName(file.name, job->id, job->name));
        if (!WriteNewFile(partial + "/" + name, file.bytes, &error)) {
          Say(error.ToString());
          return false;
        }
      }
      std::filesystem::rename(partial, folder, code);
      if (code) {
        Say("cannot rename " + partial + ": " + code.message());
        return false;
      }
    }
    answered_.insert(result.message_id);
    return true;
  }

  bool Refuse(const std::string& name, const std::string& reason) {
    Say(name + ": " + reason);
    ++failed_;
    ++refused_locally_;
    return WriteNewFile(ErrorPath(name), reason + "\n");
  }

  // A progress line on standard error, at most once a second (`always`:
  // now).
  void Progress(bool always) {
    const uint64_t now = MonotonicMilliseconds();
    if (!always && now < last_progress_ms_ + kProgressEveryMs) return;
    last_progress_ms_ = now;
    size_t sent = 0;
    for (const PendingJob& job : jobs_) sent += job.sent;
    std::fprintf(stderr, "quillaro-submit: %zu/%zu sent, %zu results, %.0f s\n", sent, jobs_.size(),
                 answered_.size(), start_ms_ == 0 ? 0.0 : (now - start_ms_) / 1000.0);
  }

  const SubmitOptions& options_;
  const std::string id_;
  const std::string results_queue_;
  const std::string state_path_;
  std::ofstream state_;
  std::vector<PendingJob> jobs_;
  std::set<std::string> answered_;  // job ids whose results (or refusal) are in
  bool resumed_ = false;
  bool checked_queue_ = false;
  bool unwritable_ = false;
  size_t duplicates_ = 0;
  size_t failed_ = 0;
  size_t refused_locally_ = 0;
  uint64_t start_ms_ = 0;
  uint64_t end_ms_ = 0;
  uint64_t last_progress_ms_ = 0;
};

}  // namespace
}  // namespace quillaro

int main(int argc, char** argv) {
  quillaro::SubmitOptions options;
  if (!quillaro::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: quillaro-submit --out DIR [--url amqp[s]://user@host:port/vhost]\n"
                 "         [--password-file F] [--ca-file F] [--batch ID]\n"
                 "         [--timeout-seconds S (3600)] [--max-message-bytes B (16777216)] FILE...\n"
                 "       quillaro-submit [--url URL] --dead-letters\n"
                 "  the URL may come from QUILLARO_BROKER_URL, the password from\n"
                 "  QUILLARO_BROKER_PASSWORD, the message limit from QUILLARO_MAX_MESSAGE_BYTES\n");
    return quillaro::kExitUsage;
  }
  std::string error;
  std::optional<quillaro::BrokerEndpoint> endpoint =
      quillaro::ResolveBrokerEndpoint(options.url, options.password_file, options.ca_file, &error);
  if (!endpoint) {
    quillaro::Say(error);
    return quillaro::kExitUsage;
  }
  if (options.dead_letters) return quillaro::ListDeadLetters(*endpoint);
  quillaro::Batch batch(options);
  std::fprintf(stderr, "quillaro-submit: batch %s\n", batch.id().c_str());
  if (!batch.Prepare()) return quillaro::kExitLost;
  const uint64_t deadline =
      quillaro::MonotonicMilliseconds() + uint64_t{options.timeout_seconds} * 1000;
  // A broker that restarts mid-batch costs a reconnect: confirmed jobs and
  // unacknowledged results are safe in its queues.
  for (;;) {
    std::unique_ptr<quillaro::BrokerConnection> broker =
        quillaro::BrokerConnection::Open(*endpoint, &error);
    bool fatal = false;
    if (broker && batch.Run(*broker, &fatal)) break;
    if (fatal) break;
    if (broker) error = broker->error();
    if (quillaro::MonotonicMilliseconds() >= deadline) break;
    if (!error.empty()) {
      quillaro::Say("broker: " + error + "; reconnecting");
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  return batch.Finish();
}
