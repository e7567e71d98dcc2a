#pragma once

// The scalar MD5 block transform, shared by the one-message routines of md5.h
// and the single-lane kernel of the lanes.

#include <cstddef>
#include <cstdint>

namespace dupfind {

// Transforms `blocks` consecutive 64-byte blocks at `data` into `state`; the
// state stays in registers from one block to the next.
void MD5TransformBlocks(std::uint32_t state[4], const std::uint8_t* data, std::size_t blocks);

}  // namespace dupfind
