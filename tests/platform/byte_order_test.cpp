// States the byte order the suite runs on. The build says which order it means to test
// (VESTRA_EXPECT_BIG_ENDIAN); a suite built or run on the wrong CPU fails here instead of passing quietly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#ifndef VESTRA_EXPECT_BIG_ENDIAN
#error "the build must say which byte order the tests run on (VESTRA_EXPECT_BIG_ENDIAN=0 or 1)"
#endif

namespace {

// Looks at the bytes of a word in memory, at run time, rather than trusting what the compiler was told.
bool RunsBigEndian() {
  const std::uint32_t word = 0x01020304u;
  unsigned char bytes[sizeof word];
  std::memcpy(bytes, &word, sizeof word);
  return bytes[0] == 0x01 && bytes[3] == 0x04;
}

TEST(ByteOrder, SuiteRunsOnTheByteOrderTheBuildIntends) {
  const bool big = RunsBigEndian();
  const std::string order = big ? "big-endian" : "little-endian";
  RecordProperty("byte_order", order);
  RecordProperty("pointer_bits", static_cast<int>(sizeof(void*) * 8));
  std::printf("suite runs %s, %d-bit pointers\n", order.c_str(), static_cast<int>(sizeof(void*) * 8));
  EXPECT_EQ(big, VESTRA_EXPECT_BIG_ENDIAN != 0)
      << "the build expects " << (VESTRA_EXPECT_BIG_ENDIAN ? "big" : "little") << "-endian, the CPU is "
      << order;
}

}  // namespace
