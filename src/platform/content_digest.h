#ifndef QUILLARO_PLATFORM_CONTENT_DIGEST_H_
#define QUILLARO_PLATFORM_CONTENT_DIGEST_H_

#include <cstddef>
#include <memory>
#include <string>

namespace quillaro {

// A SHA-256 digest computed piece by piece, from the system's own
// implementation (GLib's checksums on Linux, CNG on Windows). One object
// serves one thread; it owns its hash state and frees it when it goes.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds `size` bytes. Ignored once the state failed or was finished.
  void Update(const void* data, size_t size);
  // The digest of everything added, as 64 lower-case hexadecimal digits;
  // empty when the system could not compute it. Finishes the digest: later
  // calls give the same text.
  std::string HexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_CONTENT_DIGEST_H_
