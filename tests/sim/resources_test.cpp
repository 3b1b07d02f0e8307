// The cues' samples against the sine they stand for, sample by sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "sim/resources.h"

namespace {

std::uint8_t Sine(double hertz, std::uint32_t i, std::uint32_t count) {
  const double edge = std::min({1.0, i / 80.0, (count - i) / 80.0});
  return static_cast<std::uint8_t>(
      std::lround(128 + 100 * std::sin(2 * std::numbers::pi * hertz * i / 8000) * edge));
}

TEST(ToneSamples, EveryByteIsTheSines) {
  struct Case {
    double hertz;
    std::uint32_t count;
  };
  // The camera's ten cues, pitches on and off the sample grid, the highest pitch, and cues far longer than
  // any the camera has (where a drifting phasor would show).
  const Case cases[] = {{523.25, 3200},   {1400, 640},  {1760, 320},  {880, 480},  {1200, 800},
                        {990, 400},       {660, 560},   {1320, 240},  {330, 1600}, {440, 2400},
                        {1000, 8000},     {2000, 8000}, {4000, 1000}, {1, 8000},   {3999.9, 8000},
                        {523.25, 400000}, {7.77, 0},    {123.456, 1}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> samples(c.count);
    sim::ToneSamples(c.hertz, samples);
    int wrong = 0;
    for (std::uint32_t i = 0; i < c.count; ++i) wrong += samples[i] != Sine(c.hertz, i, c.count);
    EXPECT_EQ(wrong, 0) << c.hertz << " Hz, " << c.count << " samples";
  }
}

}  // namespace
