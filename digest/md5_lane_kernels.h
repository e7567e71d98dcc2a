#pragma once

// The block transforms behind Md5Lanes, one per instruction set and width.

#include <cstddef>
#include <cstdint>
#include <span>

#include "digest/md5_lanes.h"

namespace dupfind::lanes {

// Word j (A, B, C, D) of lane i's state sits at state[j * kStride + i].
inline constexpr std::size_t kStride = Md5Lanes::kMaxLanes;

// Transforms `count` consecutive 64-byte blocks in each of the kernel's lanes:
// lane i reads blocks[i], blocks[i] + 64, ... Every pointer must be readable for
// `count` blocks, also in lanes whose result is not wanted.
using Transform = void (*)(std::uint32_t* state, const std::uint8_t* const* blocks,
                           std::size_t count);

struct LaneKernel {
  const char* name;
  Md5Kernel set;      // the instruction set it needs
  std::size_t lanes;  // how many messages it transforms at once
  Transform transform;
};

// Every kernel built in, narrowest first; the processor may lack some.
std::span<const LaneKernel> LaneKernels();

void TransformScalar(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count);
void TransformAvx2x1(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count);
void TransformAvx2x2(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count);
void TransformAvx512x1(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count);
void TransformAvx512x2(std::uint32_t* state, const std::uint8_t* const* blocks, std::size_t count);

}  // namespace dupfind::lanes
