#include <glib.h>

#include "platform/content_digest.h"

namespace quillaro {

struct Sha256::State {
  GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA256);
  std::string digest;
  bool finished = false;
  ~State() {
    if (checksum != nullptr) g_checksum_free(checksum);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) {
  if (state_->checksum == nullptr || state_->finished) return;
  // GLib takes a signed length: feed very large pieces in parts.
  const auto* bytes = static_cast<const guchar*>(data);
  while (size > 0) {
    const size_t piece = size > (1u << 30) ? (1u << 30) : size;
    g_checksum_update(state_->checksum, bytes, static_cast<gssize>(piece));
    bytes += piece;
    size -= piece;
  }
}

std::string Sha256::HexDigest() {
  if (!state_->finished) {
    state_->finished = true;
    if (state_->checksum != nullptr) state_->digest = g_checksum_get_string(state_->checksum);
  }
  return state_->digest;
}

}  // namespace quillaro
