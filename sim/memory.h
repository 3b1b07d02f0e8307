// The camera's memory: the C library heap, the memory manager's pointers and the capture buffer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace sim {

class Memory {
 public:
  // Knobs: make the next allocations of either kind fail.
  bool failMalloc = false;
  bool failNewPtr = false;

  void* Malloc(std::uint32_t size);
  // False for a pointer this heap never handed out (or already took back).
  bool Free(void* pointer);
  void* NewPtr(std::uint32_t size);
  bool DisposePtr(void* pointer);

  // A fresh capture buffer of this size; later blocks come out of it and never go back.
  bool CaptureInit(std::uint32_t size);
  // Null when the buffer was never set up or has no room left.
  void* CaptureMalloc(std::uint32_t size);
  std::uint32_t captureUsed() const { return captureUsed_; }

  // Whether [pointer, pointer + length) lies inside one block the camera handed out.
  bool Contains(const void* pointer, std::uint32_t length) const;

  int badFrees() const { return badFrees_; }
  std::size_t liveBlocks() const { return heap_.size() + pointers_.size(); }

 private:
  struct FreeBlock {
    std::size_t mappedBytes = 0;  // a mapping of its own; 0 for the C library's
    void operator()(void* p) const;
  };
  // Zeroed and aligned for any record, so that a large block the module only partly touches costs no more
  // than what it touches: fresh pages come zeroed from the host. Large blocks are mappings of their own, as
  // the C library, once a large block was freed, hands the next one out of its heap and clears it whole.
  using Block = std::unique_ptr<void, FreeBlock>;
  struct Sized {
    Block block;
    std::uint32_t size;
  };
  static void* Allocate(std::map<const void*, Sized>& into, std::uint32_t size);
  static bool InBlocks(const std::map<const void*, Sized>& blocks, const void* p, std::uint32_t length);

  std::map<const void*, Sized> heap_;
  std::map<const void*, Sized> pointers_;
  std::map<const void*, Sized> captures_;  // every capture buffer set up, the last one in use
  std::uint8_t* capture_ = nullptr;
  std::uint32_t captureSize_ = 0;
  std::uint32_t captureUsed_ = 0;
  std::uint64_t heapBytes_ = 0;
  int badFrees_ = 0;
};

}  // namespace sim
