#include "signing/package_hasher.h"

#include <sodium.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace signing {

static_assert(crypto_generichash_BYTES_MAX == kPackageDigestSize);

// Two buffers take turns: the caller fills one while the thread hashes the
// other.
struct PackageHasher::Pipeline {
  static constexpr std::size_t kPieceSize = 256 * 1024;

  crypto_generichash_state state;
  std::array<std::vector<std::uint8_t>, 2> buffers{std::vector<std::uint8_t>(kPieceSize),
                                                   std::vector<std::uint8_t>(kPieceSize)};
  std::mutex mutex;
  std::condition_variable changed;
  std::array<std::size_t, 2> pending{};  // bytes in each buffer not hashed yet
  std::size_t filling = 0;               // the buffer the caller fills next
  bool ending = false;
  std::thread thread;

  void Run() {
    for (std::size_t hashing = 0;; hashing ^= 1) {
      std::size_t length = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return pending[hashing] != 0 || ending; });
        if (pending[hashing] == 0) return;
        length = pending[hashing];
      }
      crypto_generichash_update(&state, buffers[hashing].data(), length);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        pending[hashing] = 0;
      }
      changed.notify_all();
    }
  }
};

PackageHasher::PackageHasher() : pipeline_(std::make_unique<Pipeline>()) {
  // Picks the quickest BLAKE2b the processor has; without it the portable
  // one serves, so the result changes nothing here.
  [[maybe_unused]] const int ready = sodium_init();
  // Cannot fail for an unkeyed hash of this length.
  crypto_generichash_init(&pipeline_->state, nullptr, 0, kPackageDigestSize);
  try {
    pipeline_->thread = std::thread([pipeline = pipeline_.get()] { pipeline->Run(); });
  } catch (const std::system_error&) {
    // No thread to be had: Add hashes each piece itself.
  }
}

PackageHasher::~PackageHasher() {
  {
    const std::lock_guard<std::mutex> lock(pipeline_->mutex);
    pipeline_->ending = true;
  }
  pipeline_->changed.notify_all();
  if (pipeline_->thread.joinable()) pipeline_->thread.join();
}

void PackageHasher::Add(const std::uint8_t* data, std::size_t size) {
  Pipeline& p = *pipeline_;
  if (!p.thread.joinable()) {
    crypto_generichash_update(&p.state, data, size);
    return;
  }
  while (size > 0) {
    const std::size_t piece = std::min(size, Pipeline::kPieceSize);
    {
      std::unique_lock<std::mutex> lock(p.mutex);
      p.changed.wait(lock, [&] { return p.pending[p.filling] == 0; });
    }
    // The thread leaves this buffer alone until it is handed over.
    std::memcpy(p.buffers[p.filling].data(), data, piece);
    {
      const std::lock_guard<std::mutex> lock(p.mutex);
      p.pending[p.filling] = piece;
      p.filling ^= 1;
    }
    p.changed.notify_all();
    data += piece;
    size -= piece;
  }
}

PackageDigest PackageHasher::Finish() {
  Pipeline& p = *pipeline_;
  {
    std::unique_lock<std::mutex> lock(p.mutex);
    p.changed.wait(lock, [&] { return p.pending[0] == 0 && p.pending[1] == 0; });
  }
  PackageDigest digest{};
  crypto_generichash_final(&p.state, digest.data(), digest.size());
  return digest;
}

}  // namespace signing
