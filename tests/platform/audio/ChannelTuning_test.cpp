// The registered-parameter reading beside FluidSynth's: which controller
// sequences set the fine tuning, and to how many cents.
#include "ChannelTuning.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace chimewick::audio {
namespace {

using Controllers = std::vector<std::pair<uint32_t, uint32_t>>;

struct Case {
  const char* name;
  Controllers sequence;
  std::optional<double> lastResult;  // what the last change returns
};

TEST(ChannelTuning, OnlyFineTuningDataEntryIsReadOurWay) {
  const Case cases[] = {
      {"fine 0 is in tune", {{101, 0}, {100, 1}, {6, 0}}, 0.0},
      {"fine 32 is half a semitone", {{101, 0}, {100, 1}, {6, 32}}, 50.0},
      {"fine 64 is a whole semitone", {{101, 0}, {100, 1}, {6, 64}}, 100.0},
      {"fine 127", {{101, 0}, {100, 1}, {6, 127}}, 127 * 100.0 / 64},
      {"data entry LSB refines", {{101, 0}, {100, 1}, {6, 32}, {38, 64}}, 50.0 + 100.0 * 64 / 8192},
      {"a new MSB clears the LSB", {{101, 0}, {100, 1}, {38, 64}, {6, 32}}, 50.0},
      {"LSB-first selection works too", {{100, 1}, {101, 0}, {6, 16}}, 25.0},
      {"coarse tuning is FluidSynth's", {{101, 0}, {100, 2}, {6, 66}}, std::nullopt},
      {"bend range is FluidSynth's", {{101, 0}, {100, 0}, {6, 12}}, std::nullopt},
      {"nothing selected at first", {{6, 32}}, std::nullopt},
      {"the null parameter deselects", {{101, 0}, {100, 1}, {101, 127}, {100, 127}, {6, 32}}, std::nullopt},
      {"an NRPN deselects", {{101, 0}, {100, 1}, {99, 0}, {98, 1}, {6, 32}}, std::nullopt},
      {"an RPN after an NRPN selects again", {{99, 0}, {98, 1}, {101, 0}, {100, 1}, {6, 32}}, 50.0},
      {"reset all controllers deselects", {{101, 0}, {100, 1}, {121, 0}, {6, 32}}, std::nullopt},
      {"reset all controllers keeps the value an LSB refines",
       {{101, 0}, {100, 1}, {6, 32}, {121, 0}, {101, 0}, {100, 1}, {38, 64}},
       50.0 + 100.0 * 64 / 8192},
      {"other controllers leave the selection", {{101, 0}, {100, 1}, {7, 100}, {64, 127}, {6, 32}}, 50.0},
      {"selection changes are passed on", {{101, 0}}, std::nullopt},
  };
  for (const Case& c : cases) {
    ChannelTuning tuning;
    std::optional<double> result;
    for (const auto& [controller, value] : c.sequence) result = tuning.controlChange(controller, value);
    EXPECT_EQ(result.has_value(), c.lastResult.has_value()) << c.name;
    if (result && c.lastResult) {
      EXPECT_DOUBLE_EQ(*result, *c.lastResult) << c.name;
    }
  }
}

}  // namespace
}  // namespace chimewick::audio
