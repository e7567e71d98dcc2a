#pragma once

// MD5 of several independent messages at once, one per SIMD lane.

#include <array>
#include <cstddef>
#include <cstdint>

#include "digest/md5.h"

namespace dupfind {

namespace lanes {
struct LaneKernel;
}

// The instruction sets the lanes can run on, weakest first.
enum class Md5Kernel { kScalar, kAvx2, kAvx512 };

// "scalar", "avx2" or "avx512".
const char* KernelName(Md5Kernel kernel);
// Whether this processor (and its operating system) can run `kernel`.
bool CanRun(Md5Kernel kernel);
// The strongest kernel this processor runs, unless the environment variable
// DUPFIND_MD5_KERNEL names one ("scalar", "avx2" or "avx512"; unset or empty
// means the strongest). Throws Error for any other value and for a kernel this
// processor cannot run: a forced kernel is never quietly replaced.
Md5Kernel KernelFromEnvironment();

enum class LaneState {
  kIdle,       // no message: Start one
  kNeedsMore,  // started, waiting for Supply
  kHasInput,   // holds blocks that Run will transform
  kDone,       // the digest is ready: Take it
};

// An engine that digests up to Lanes() messages side by side. Each lane holds
// one message at a time; messages may have any lengths, each is padded on its
// own inside the lanes, and a lane whose message is done can be refilled while
// the others go on. One engine belongs to one thread.
//
// A lane's life: Start, then Supply the message in pieces of any length and
// alignment, the last one marked `last`, calling Run whenever lanes have
// input; when State is kDone, Take the digest, which leaves the lane idle.
//
//   Md5Lanes engine;
//   engine.Start(0);
//   engine.Supply(0, piece, size, /*last=*/false);  // kHasInput or kNeedsMore
//   engine.Run();                                   // now kNeedsMore: supply the next piece
//   engine.Supply(0, end, end_size, /*last=*/true);
//   engine.Run();                                   // kDone
//   Digest digest = engine.Take(0);                 // kIdle
//
// A supplied piece is read where it lies, not copied: it must stay valid and
// unchanged while the lane is kHasInput, and may be reused or freed as soon as
// the lane is in any other state. Bytes short of a whole block are copied into
// the lane, which keeps them for the next piece.
//
// Calling an operation in a state that does not allow it, or with a lane
// number of Lanes() or more, throws std::logic_error.
class Md5Lanes {
 public:
  static constexpr std::size_t kMaxLanes = 32;

  // With the kernel of KernelFromEnvironment (which may throw).
  Md5Lanes();
  // With `kernel` and the weaker kernels; throws Error when this processor
  // cannot run `kernel`.
  explicit Md5Lanes(Md5Kernel kernel);
  Md5Lanes(const Md5Lanes&) = delete;
  Md5Lanes& operator=(const Md5Lanes&) = delete;

  Md5Kernel Kernel() const { return kernel_; }
  // How many messages the engine holds at once: 32 with avx512, 16 with avx2,
  // 1 with scalar. Filling every lane gives the best speed; while only some
  // are busy, Run uses a narrower kernel where one holds them (down to the
  // scalar code for a single lane), so that few messages cost less.
  std::size_t Lanes() const { return lanes_; }

  LaneState State(std::size_t lane) const {
    if (lane >= lanes_) NoSuchLane("State", lane);
    return slots_[lane].state;
  }

  // Begins a new message in an idle lane; it becomes kNeedsMore.
  void Start(std::size_t lane);
  // Gives the next `size` bytes of the lane's message (size 0 is allowed;
  // `data` may then be null). `last` ends the message. The lane must be
  // kNeedsMore; it becomes kHasInput, or stays kNeedsMore when the piece did
  // not complete a block and was not the last.
  void Supply(std::size_t lane, const void* data, std::size_t size, bool last);
  // Transforms blocks in every lane that is kHasInput, until at least one of
  // them has used up its input: it is then kNeedsMore, or kDone after its
  // last piece. Lanes in other states are left as they are. Returns false,
  // doing nothing, when no lane has input.
  bool Run();
  // The digest of a kDone lane, which becomes idle.
  Digest Take(std::size_t lane);
  // Drops the lane's message, whatever its state; the lane becomes idle.
  void Cancel(std::size_t lane);

  // Takes the message of a lane waiting for input (kNeedsMore) out of the
  // engine, as the context of the digest so far; the lane becomes idle. Resume
  // on any engine, or MD5Update and MD5Final, go on with it.
  MD5Context Suspend(std::size_t lane);
  // Goes on in an idle lane with the message whose digest so far is `context`
  // (from Suspend, or MD5Init and MD5Update); the lane becomes kNeedsMore.
  void Resume(std::size_t lane, const MD5Context& context);

 private:
  // A run of whole blocks still to be transformed.
  struct Blocks {
    const std::uint8_t* data = nullptr;
    std::size_t count = 0;
  };
  struct Lane {
    LaneState state = LaneState::kIdle;
    bool last = false;              // the last piece has been supplied
    std::uint8_t partial_size = 0;  // bytes waiting in `tail` for a whole block
    std::uint8_t next = 0;          // the first of `queue` not yet done
    std::uint8_t queued = 0;        // entries in `queue`
    std::uint64_t length = 0;       // bytes supplied so far
    // At most: a block completed from the partial bytes, the piece's own
    // whole blocks, and the one or two padded closing blocks.
    std::array<Blocks, 3> queue;
    Digest digest{};
    alignas(64) std::uint8_t head[64];   // a block made of partial bytes and a new piece
    alignas(64) std::uint8_t tail[128];  // partial bytes; with the last piece, the padded end
  };

  Lane& Checked(std::size_t lane, const char* operation, LaneState wanted);
  [[noreturn, gnu::cold]] void NoSuchLane(const char* operation, std::size_t lane) const;
  [[noreturn, gnu::cold]] void OutOfTurn(const char* operation, std::size_t lane,
                                         LaneState wanted) const;
  void Finish(std::size_t lane);

  Md5Kernel kernel_;
  std::size_t lanes_;
  // The kernel that runs when k lanes are busy: for_busy_[k].
  const lanes::LaneKernel* for_busy_[kMaxLanes + 1] = {};
  // The chaining values A, B, C, D of lane i at state_[j * kMaxLanes + i]:
  // the layout the kernels work on in place when the lanes are full.
  alignas(64) std::uint32_t state_[4 * kMaxLanes];
  // The same layout for the busy lanes gathered together, when some are not.
  alignas(64) std::uint32_t gathered_[4 * kMaxLanes];
  std::array<Lane, kMaxLanes> slots_{};
};

}  // namespace dupfind
