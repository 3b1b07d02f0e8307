// The camera's allocators, kept apart from the host's so that a run's memory dies with its camera.
#include "sim/memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/kernel.h"
#include "platform/resources.h"
#include "sim/camera.h"

namespace sim {

namespace {
// The camera has 32 MiB of RAM; no one allocation may claim more than half of it.
constexpr std::uint32_t kLargestBlock = 16u << 20;
constexpr std::uint64_t kHeapLimit = 32u << 20;

// From this size on a block is mapped by itself. Not under the address sanitizer, which watches only the
// C library's blocks.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint32_t kOwnMappingFrom = ~std::uint32_t{0};
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::uint32_t kOwnMappingFrom = ~std::uint32_t{0};
#else
constexpr std::uint32_t kOwnMappingFrom = 256u << 10;
#endif
#else
constexpr std::uint32_t kOwnMappingFrom = 256u << 10;
#endif
}  // namespace

void Memory::FreeBlock::operator()(void* p) const {
  if (mappedBytes > 0) {
    ::munmap(p, mappedBytes);
  } else {
    std::free(p);
  }
}

void* Memory::Allocate(std::map<const void*, Sized>& into, std::uint32_t size) {
  Block block(nullptr, FreeBlock{});
  if (size >= kOwnMappingFrom) {
    void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages != MAP_FAILED) block = Block(pages, FreeBlock{size});
  }
  if (!block) block.reset(std::calloc(size == 0 ? 1 : size, 1));
  if (!block) throw std::bad_alloc();
  void* p = block.get();
  into.emplace(p, Sized{std::move(block), size});
  return p;
}

bool Memory::InBlocks(const std::map<const void*, Sized>& blocks, const void* p, std::uint32_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(p);
  auto it = blocks.upper_bound(p);
  if (it == blocks.begin()) return false;
  --it;
  const auto* start = static_cast<const std::uint8_t*>(it->first);
  const std::size_t offset = static_cast<std::size_t>(bytes - start);
  return offset <= it->second.size && length <= it->second.size - offset;
}

void* Memory::Malloc(std::uint32_t size) {
  if (failMalloc || size > kLargestBlock || heapBytes_ + size > kHeapLimit) return nullptr;
  heapBytes_ += size;
  return Allocate(heap_, size);
}

bool Memory::Free(void* pointer) {
  if (pointer == nullptr) return true;
  const auto it = heap_.find(pointer);
  if (it == heap_.end()) {
    ++badFrees_;
    return false;
  }
  heapBytes_ -= it->second.size;
  heap_.erase(it);
  return true;
}

void* Memory::NewPtr(std::uint32_t size) {
  if (failNewPtr || size > kLargestBlock) return nullptr;
  return Allocate(pointers_, size);
}

bool Memory::DisposePtr(void* pointer) {
  if (pointer == nullptr) return true;
  if (pointers_.erase(pointer) == 1) return true;
  ++badFrees_;
  return false;
}

bool Memory::CaptureInit(std::uint32_t size) {
  if (size == 0 || size > kLargestBlock) return false;
  // Earlier blocks stay readable: a module that kept them reads stale memory, not freed memory.
  capture_ = static_cast<std::uint8_t*>(Allocate(captures_, size));
  captureSize_ = size;
  captureUsed_ = 0;
  return true;
}

void* Memory::CaptureMalloc(std::uint32_t size) {
  if (capture_ == nullptr || size == 0) return nullptr;
  const std::uint32_t start = (captureUsed_ + 7u) & ~7u;
  if (start > captureSize_ || size > captureSize_ - start) return nullptr;
  captureUsed_ = start + size;
  return capture_ + start;
}

bool Memory::Contains(const void* pointer, std::uint32_t length) const {
  if (pointer == nullptr) return false;
  return InBlocks(heap_, pointer, length) || InBlocks(pointers_, pointer, length) ||
         InBlocks(captures_, pointer, length);
}

}  // namespace sim

namespace vestra {

void* malloc(std::uint32_t size) {
  return sim::Current().memory().Malloc(size);
}
void free(void* pointer) {
  sim::Current().memory().Free(pointer);
}

std::int16_t MMNewPtr(std::uint32_t size, void** pointer) {
  constexpr std::int16_t kMemFull = -108;
  if (pointer == nullptr) return -1;
  *pointer = sim::Current().memory().NewPtr(size);
  return *pointer == nullptr ? kMemFull : 0;
}
void MMDisposePtr(void* pointer) {
  sim::Current().memory().DisposePtr(pointer);
}
std::int16_t MMCaptureBufferInit(std::uint32_t size) {
  return sim::Current().memory().CaptureInit(size) ? 0 : -108;
}
void* MMCaptureBufferMalloc(std::uint32_t size) {
  return sim::Current().memory().CaptureMalloc(size);
}

}  // namespace vestra
