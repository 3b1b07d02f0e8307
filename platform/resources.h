// Resource manager and memory manager.
#pragma once

#include <cstdint>

namespace vestra {

struct RMResourceKey {
  std::uint32_t type;
  std::int32_t id;
  std::uint32_t reserved;
};

constexpr std::uint32_t kSoundResourceType = 0x736E6420;  // 'snd '

// The platform's system control block; the third word locates the resource block.
struct RMSystemControlBlock {
  std::uint32_t word0;
  std::uint32_t word1;
  void* resourceBlock;
};

// A resource block starts with these words; the third is the block's size in bytes.
struct RMResourceBlockHeader {
  std::uint32_t word0;
  std::uint32_t word1;
  std::uint32_t size;
};

extern RMSystemControlBlock gRMSystemControlBlock;
extern void* kRMFlashBaseAddress;

std::int16_t RMGetResource(const RMResourceKey* key, void** data, std::uint32_t* size);

std::int16_t MMNewPtr(std::uint32_t size, void** pointer);
void MMDisposePtr(void* pointer);
std::int16_t MMCaptureBufferInit(std::uint32_t size);
void* MMCaptureBufferMalloc(std::uint32_t size);

}  // namespace vestra
