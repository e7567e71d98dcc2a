#include "digest/md5_lanes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "digest/error.h"
#include "digest/md5_blocks.h"
#include "digest/md5_lane_kernels.h"

namespace dupfind {
namespace lanes {

void TransformScalar(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count) {
  std::uint32_t words[4] = {state[0], state[kStride], state[2 * kStride], state[3 * kStride]};
  MD5TransformBlocks(words, blocks[0], count);
  for (std::size_t j = 0; j < 4; ++j)
    state[j * kStride] = words[j];
}

namespace {

constexpr LaneKernel kKernels[] = {
    {"scalar", Md5Kernel::kScalar, 1, TransformScalar},
#if defined(__x86_64__)
    {"avx2", Md5Kernel::kAvx2, 8, TransformAvx2x1},
    {"avx2x2", Md5Kernel::kAvx2, 16, TransformAvx2x2},
    {"avx512", Md5Kernel::kAvx512, 16, TransformAvx512x1},
    {"avx512x2", Md5Kernel::kAvx512, 32, TransformAvx512x2},
#endif
};

}  // namespace

std::span<const LaneKernel> LaneKernels() {
  return kKernels;
}

}  // namespace lanes

namespace {

constexpr Md5Kernel kAllKernels[] = {Md5Kernel::kScalar, Md5Kernel::kAvx2, Md5Kernel::kAvx512};

const char* StateName(LaneState state) {
  switch (state) {
    case LaneState::kIdle:
      return "idle";
    case LaneState::kNeedsMore:
      return "waiting for input";
    case LaneState::kHasInput:
      return "holding input";
    case LaneState::kDone:
      return "done";
  }
  return "?";
}

}  // namespace

const char* KernelName(Md5Kernel kernel) {
  switch (kernel) {
    case Md5Kernel::kScalar:
      return "scalar";
    case Md5Kernel::kAvx2:
      return "avx2";
    case Md5Kernel::kAvx512:
      return "avx512";
  }
  return "?";
}

bool CanRun(Md5Kernel kernel) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  switch (kernel) {
    case Md5Kernel::kScalar:
      return true;
    case Md5Kernel::kAvx2:
      return __builtin_cpu_supports("avx2");
    case Md5Kernel::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl");
  }
  return false;
#else
  return kernel == Md5Kernel::kScalar;
#endif
}

Md5Kernel KernelFromEnvironment() {
  const char* forced = std::getenv("DUPFIND_MD5_KERNEL");
  if (forced == nullptr || *forced == '\0') {
    Md5Kernel best = Md5Kernel::kScalar;
    for (const Md5Kernel kernel : kAllKernels) {
      if (CanRun(kernel)) best = kernel;
    }
    return best;
  }
  for (const Md5Kernel kernel : kAllKernels) {
    if (std::strcmp(forced, KernelName(kernel)) != 0) continue;
    if (!CanRun(kernel)) {
      throw Error(std::string("DUPFIND_MD5_KERNEL is \"") + forced +
                  "\", which this processor cannot run");
    }
    return kernel;
  }
  throw Error(std::string("DUPFIND_MD5_KERNEL is \"") + forced +
              "\"; it may be scalar, avx2 or avx512");
}

Md5Lanes::Md5Lanes() : Md5Lanes(KernelFromEnvironment()) {}

Md5Lanes::Md5Lanes(Md5Kernel kernel) : kernel_(kernel), lanes_(0) {
  if (!CanRun(kernel)) {
    throw Error(std::string("This processor cannot run the ") + KernelName(kernel) + " MD5 kernel");
  }
  // For k busy lanes, the narrowest kernel that holds them; of two as wide,
  // the one of the stronger instruction set.
  for (const lanes::LaneKernel& candidate : lanes::LaneKernels()) {
    if (candidate.set > kernel) continue;
    lanes_ = std::max(lanes_, candidate.lanes);
    for (std::size_t busy = 1; busy <= candidate.lanes; ++busy) {
      const lanes::LaneKernel*& chosen = for_busy_[busy];
      if (chosen == nullptr || chosen->lanes >= candidate.lanes) chosen = &candidate;
    }
  }
  std::memset(state_, 0, sizeof state_);
  std::memset(gathered_, 0, sizeof gathered_);
}

void Md5Lanes::NoSuchLane(const char* operation, std::size_t lane) const {
  throw std::logic_error(std::string("Md5Lanes::") + operation + ": lane " + std::to_string(lane) +
                         " of " + std::to_string(lanes_));
}

void Md5Lanes::OutOfTurn(const char* operation, std::size_t lane, LaneState wanted) const {
  throw std::logic_error(std::string("Md5Lanes::") + operation + ": lane " + std::to_string(lane) +
                         " is " + StateName(slots_[lane].state) + ", not " + StateName(wanted));
}

Md5Lanes::Lane& Md5Lanes::Checked(std::size_t lane, const char* operation, LaneState wanted) {
  if (lane >= lanes_) NoSuchLane(operation, lane);
  if (slots_[lane].state != wanted) OutOfTurn(operation, lane, wanted);
  return slots_[lane];
}

void Md5Lanes::Start(std::size_t lane) {
  Lane& slot = Checked(lane, "Start", LaneState::kIdle);
  slot.state = LaneState::kNeedsMore;
  slot.last = false;
  slot.partial_size = 0;
  slot.length = 0;
  constexpr std::uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (std::size_t j = 0; j < 4; ++j)
    state_[j * kMaxLanes + lane] = kInitial[j];
}

void Md5Lanes::Supply(std::size_t lane, const void* data, std::size_t size, bool last) {
  Lane& slot = Checked(lane, "Supply", LaneState::kNeedsMore);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  slot.length += size;
  slot.next = 0;
  slot.queued = 0;

  std::size_t partial = slot.partial_size;
  if (partial != 0) {
    const std::size_t fill = std::min(64 - partial, size);
    if (fill != 0) std::memcpy(slot.tail + partial, bytes, fill);
    partial += fill;
    bytes += fill;
    size -= fill;
    if (partial == 64) {
      std::memcpy(slot.head, slot.tail, 64);
      slot.queue[slot.queued++] = {slot.head, 1};
      partial = 0;
    }
  }
  // Here either nothing is left of the piece or no partial bytes are waiting.
  if (size >= 64) {
    slot.queue[slot.queued++] = {bytes, size / 64};
    bytes += size / 64 * 64;
    size %= 64;
  }
  if (size != 0) {
    std::memcpy(slot.tail, bytes, size);
    partial = size;
  }
  if (last) {
    // RFC 1321 padding: 0x80, zeros up to 8 bytes short of a block, then the
    // length in bits, low byte first; a second block when those 9 bytes do
    // not fit after the partial ones.
    const std::size_t end = partial < 56 ? 64 : 128;
    slot.tail[partial] = 0x80;
    std::memset(slot.tail + partial + 1, 0, end - 8 - partial - 1);
    std::uint64_t bits = slot.length * 8;
    for (std::size_t i = end - 8; i < end; ++i, bits >>= 8)
      slot.tail[i] = static_cast<std::uint8_t>(bits);
    slot.queue[slot.queued++] = {slot.tail, end / 64};
    partial = 0;
  }
  slot.partial_size = static_cast<std::uint8_t>(partial);
  slot.last = last;
  slot.state = slot.queued != 0 ? LaneState::kHasInput : LaneState::kNeedsMore;
}

bool Md5Lanes::Run() {
  bool ran = false;
  for (;;) {
    std::size_t busy[kMaxLanes];
    std::size_t count = SIZE_MAX;
    std::size_t k = 0;
    for (std::size_t lane = 0; lane < lanes_; ++lane) {
      const Lane& slot = slots_[lane];
      if (slot.state != LaneState::kHasInput) continue;
      busy[k++] = lane;
      count = std::min(count, slot.queue[slot.next].count);
    }
    if (k == 0) return ran;
    ran = true;

    const lanes::LaneKernel& kernel = *for_busy_[k];
    const std::uint8_t* blocks[kMaxLanes];
    for (std::size_t i = 0; i < k; ++i) {
      const Lane& slot = slots_[busy[i]];
      blocks[i] = slot.queue[slot.next].data;
    }
    // The kernel's spare lanes transform a busy lane's blocks again, unused.
    std::fill(blocks + k, blocks + kernel.lanes, blocks[0]);

    // In place when the busy lanes are the first k and the kernel's other
    // lanes hold no state worth keeping; otherwise on the busy lanes' states
    // gathered together.
    bool in_place = busy[k - 1] == k - 1;
    for (std::size_t lane = k; in_place && lane < kernel.lanes; ++lane)
      in_place = slots_[lane].state != LaneState::kNeedsMore;
    if (in_place) {
      kernel.transform(state_, blocks, count);
    } else {
      for (std::size_t j = 0; j < 4; ++j) {
        for (std::size_t i = 0; i < k; ++i)
          gathered_[j * kMaxLanes + i] = state_[j * kMaxLanes + busy[i]];
      }
      kernel.transform(gathered_, blocks, count);
      for (std::size_t j = 0; j < 4; ++j) {
        for (std::size_t i = 0; i < k; ++i)
          state_[j * kMaxLanes + busy[i]] = gathered_[j * kMaxLanes + i];
      }
    }

    bool changed = false;
    for (std::size_t i = 0; i < k; ++i) {
      Lane& slot = slots_[busy[i]];
      Blocks& run = slot.queue[slot.next];
      run.data += count * 64;
      run.count -= count;
      if (run.count != 0 || ++slot.next != slot.queued) continue;
      changed = true;
      if (slot.last) {
        Finish(busy[i]);
      } else {
        slot.state = LaneState::kNeedsMore;
      }
    }
    if (changed) return true;
  }
}

void Md5Lanes::Finish(std::size_t lane) {
  Lane& slot = slots_[lane];
  std::uint32_t words[4];
  for (std::size_t j = 0; j < 4; ++j)
    words[j] = state_[j * kMaxLanes + lane];
  Encode(slot.digest.data(), words, 16);
  slot.state = LaneState::kDone;
}

Digest Md5Lanes::Take(std::size_t lane) {
  Lane& slot = Checked(lane, "Take", LaneState::kDone);
  slot.state = LaneState::kIdle;
  return slot.digest;
}

MD5Context Md5Lanes::Suspend(std::size_t lane) {
  Lane& slot = Checked(lane, "Suspend", LaneState::kNeedsMore);
  MD5Context context{};
  for (std::size_t j = 0; j < 4; ++j)
    context.state[j] = state_[j * kMaxLanes + lane];
  const std::uint64_t bits = slot.length * 8;
  context.count[0] = static_cast<std::uint32_t>(bits);
  context.count[1] = static_cast<std::uint32_t>(bits >> 32);
  std::memcpy(context.buffer, slot.tail, slot.partial_size);
  slot.state = LaneState::kIdle;
  return context;
}

void Md5Lanes::Resume(std::size_t lane, const MD5Context& context) {
  Lane& slot = Checked(lane, "Resume", LaneState::kIdle);
  for (std::size_t j = 0; j < 4; ++j)
    state_[j * kMaxLanes + lane] = context.state[j];
  slot.length = ((std::uint64_t{context.count[1]} << 32) | context.count[0]) / 8;
  slot.partial_size = static_cast<std::uint8_t>(slot.length % 64);
  std::memcpy(slot.tail, context.buffer, slot.partial_size);
  slot.last = false;
  slot.state = LaneState::kNeedsMore;
}

void Md5Lanes::Cancel(std::size_t lane) {
  if (lane >= lanes_) NoSuchLane("Cancel", lane);
  slots_[lane].state = LaneState::kIdle;
}

}  // namespace dupfind
