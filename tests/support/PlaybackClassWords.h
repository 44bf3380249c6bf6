// The playback class MidiPlaybackZel's registered record as a host built
// elsewhere reads it: plain words at their indexes (pointer-sized on this
// build), never through the declaration the plug-in is built from.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "PlaybackEntryNames.h"
#include "rb/PluginHost.h"

namespace chimewick_test {

// One method entry as read from the record's words.
struct PlaybackMethodWords {
  uintptr_t function, setter;
  std::string declaration;
  uintptr_t flags;  // 0 in three-word entries, which have none
  bool operator==(const PlaybackMethodWords&) const = default;
};

inline std::string TextAtWord(uintptr_t word) {
  return word == 0 ? std::string("(none)") : std::string(reinterpret_cast<const char*>(word));
}

// The method table of a record (word 9, word 10 entries) in entries of
// entryWords words: 4, or 3 as an old host reads them.
inline std::vector<PlaybackMethodWords> PlaybackMethodTableWords(const void* record, size_t entryWords) {
  const auto* words = static_cast<const uintptr_t*>(record);
  const auto* methods = reinterpret_cast<const uintptr_t*>(words[9]);
  std::vector<PlaybackMethodWords> rows;
  for (size_t i = 0; methods != nullptr && i < words[10]; ++i) {
    const uintptr_t* m = methods + entryWords * i;
    rows.push_back({m[0], m[1], TextAtWord(m[2]), entryWords > 3 ? m[3] : 0});
  }
  return rows;
}

// Checks the MidiPlaybackZel record the host registered, word by word, and
// that its members are the functions the host binds under the program's
// names. methodEntryWords: 4, or 3 for a host older than 5.9. Makes and
// releases one object to see where the host puts the instance data. UI
// thread.
inline void ExpectPlaybackClassRecordWords(size_t methodEntryWords = 4) {
  const auto* words = reinterpret_cast<const uintptr_t*>(rb::FindPluginClass("MidiPlaybackZel"));
  ASSERT_NE(words, nullptr) << "no MidiPlaybackZel registered";
  const auto entry = [](const std::string& member) {
    return reinterpret_cast<uintptr_t>(
        rb::RuntimeLookupPluginEntrypoint(("MidiPlaybackZel." + member).c_str()));
  };
  EXPECT_EQ(words[0], 9u) << "record version";
  EXPECT_EQ(TextAtWord(words[1]), "MidiPlaybackZel");
  EXPECT_EQ(words[2], 0u) << "no superclass";
  EXPECT_EQ(words[3], 92u) << "instance data size";
  {
    const rb::Ref<rb::PluginObject> object = rb::PluginObject::New("MidiPlaybackZel");
    ASSERT_TRUE(object);
    EXPECT_EQ(words[4], uintptr_t(object->InstanceData() - static_cast<uint8_t*>(object->Self())))
        << "the host wrote where it puts the instance data";
  }
  EXPECT_EQ(words[5], 0u) << "no constructor";
  EXPECT_NE(words[6], 0u);
  EXPECT_EQ(words[6], entry("__exit")) << "the destructor";
  EXPECT_EQ(words[8], 2u) << "property count";
  EXPECT_EQ(words[10], 8u) << "method count";
  for (int i = 11; i <= 19; ++i) EXPECT_EQ(words[i], 0u) << "word " << i;
  EXPECT_EQ(words[20], 4u) << "class flags";
  for (int i = 21; i <= 31; ++i) EXPECT_EQ(words[i], 0u) << "word " << i;

  // Method entries: function, setter, declaration (and flags in four words).
  const std::vector<PlaybackMethodWords> methods = PlaybackMethodTableWords(words, methodEntryWords);
  ASSERT_EQ(methods.size(), kPlaybackDeclarations.size());
  for (size_t i = 0; i < methods.size(); ++i) {
    const PlaybackMethodWords& m = methods[i];
    EXPECT_EQ(m.declaration, kPlaybackDeclarations[i]) << "entry " << i;
    EXPECT_NE(m.function, 0u) << m.declaration;
    EXPECT_EQ(m.function, entry(m.declaration)) << m.declaration;
    // Only InstrumentIDOnChannel is assignable.
    EXPECT_EQ(m.setter, i == 7 ? entry(m.declaration + ".Set") : 0u) << m.declaration;
    if (i == 7) {
      EXPECT_NE(m.setter, 0u);
    }
    EXPECT_EQ(m.flags, methodEntryWords > 3 ? 4u : 0u) << m.declaration;
  }
  // Property entries of ten words: group, name, type, flags, getter, setter,
  // field offset and three zeros.
  const auto* properties = reinterpret_cast<const uintptr_t*>(words[7]);
  ASSERT_NE(properties, nullptr);
  const struct {
    const char* name;
    uintptr_t offset;
  } expected[] = {{"Handle", 0}, {"Lasterror", 4}};
  for (size_t i = 0; i < 2; ++i) {
    const uintptr_t* p = properties + 10 * i;
    EXPECT_EQ(p[0], 0u) << "no group";
    EXPECT_EQ(TextAtWord(p[1]), expected[i].name);
    EXPECT_EQ(TextAtWord(p[2]), "Integer");
    EXPECT_EQ(p[3], 6u) << expected[i].name;
    EXPECT_EQ(p[4], ~uintptr_t{0}) << "getter -1: the host reads the field";
    EXPECT_EQ(p[5], 0u) << "read-only";
    EXPECT_EQ(p[6], expected[i].offset);
    EXPECT_EQ(p[7] | p[8] | p[9], 0u);
  }
}

}  // namespace chimewick_test
