#include "platform/content_digest.h"
#include "platform/windows_util_windows.h"

#include <bcrypt.h>

#include <vector>

namespace quillaro {

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::string digest;
  bool finished = false;
  bool failed = false;
  State() {
    failed = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
             BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0;
  }
  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) {
  if (state_->failed || state_->finished) return;
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0 && !state_->failed) {
    const ULONG piece = size > (1u << 30) ? (1u << 30) : static_cast<ULONG>(size);
    state_->failed = BCryptHashData(state_->hash, bytes, piece, 0) != 0;
    bytes += piece;
    size -= piece;
  }
}

std::string Sha256::HexDigest() {
  if (state_->finished) return state_->digest;
  state_->finished = true;
  UCHAR digest[32];
  if (state_->failed || BCryptFinishHash(state_->hash, digest, sizeof digest, 0) != 0) return "";
  static const char kHex[] = "0123456789abcdef";
  for (UCHAR byte : digest) {
    state_->digest += kHex[byte >> 4];
    state_->digest += kHex[byte & 15];
  }
  return state_->digest;
}

}  // namespace quillaro
