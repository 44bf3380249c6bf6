// The transpose and pitch sliders: their labels, the key name, the interval
// tool tip, and the tuning they send to the synthesizer.
//
// Both sliders stand upright with their Minimum at the top, so the window
// shows and means the negated slider value: shown transposition s = -T and
// shown pitch p = -P. The coarse tuning is semitones around 64 and the fine
// tuning counts 1/64 semitone above it; a negative pitch borrows one semitone
// from the coarse value, so both branches give s + p/64 semitones.
#include <array>

#include "Window1.h"
#include "rb/Text.h"

namespace {

constexpr int32_t kControlChange = 176;
constexpr int32_t kRpnMsb = 101;
constexpr int32_t kRpnLsb = 100;
constexpr int32_t kDataEntryMsb = 6;
constexpr int32_t kNullParameter = 127;
constexpr int32_t kFineTuningParameter = 1;
constexpr int32_t kCoarseTuningParameter = 2;

// The key in which the keyboard's C sounds, at index 11 - T.
constexpr std::array<const char*, 23> kKeyNames = {
    "C#/Db", "D", "D#/Eb", "E", "F", "F#/Gb", "G", "G#/Ab", "A", "A#/Bb", "B", "C",
    "C#/Db", "D", "D#/Eb", "E", "F", "F#/Gb", "G", "G#/Ab", "A", "A#/Bb", "B",
};

// The interval of the transposition, by its size in semitones.
constexpr std::array<const char*, 12> kIntervalNames = {
    "prime",
    "second",
    "major second",
    "minor terza",
    "major terza",
    "quart",
    "major quart / minor quint",
    "quint",
    "major quint",
    "sext",
    "septime",
    "major septime",
};

// One registered-parameter value on the first MIDI channel, closed with the
// null parameter so that stray data entries change nothing.
void SendRegisteredParameter(MidiPlaybackZel& player, int32_t parameter, int32_t value) {
  player.SendMidiEvent(kControlChange, kRpnMsb, 0, 0);
  player.SendMidiEvent(kControlChange, kRpnLsb, parameter, 0);
  player.SendMidiEvent(kControlChange, kDataEntryMsb, value, 0);
  player.SendMidiEvent(kControlChange, kRpnMsb, kNullParameter, 0);
  player.SendMidiEvent(kControlChange, kRpnLsb, kNullParameter, 0);
}

}  // namespace

void Window1::PitchSlider_ValueChanged() {
  const int32_t p = -PitchSlider()->Value();
  PitchSliderValue()->SetText(rb::Str(p));
  const int32_t t = TransposeSlider()->Value();
  if (p >= 0) {
    SetCoarseTuning(64 - t);
    SetFineTuning(p);
  } else {
    SetCoarseTuning(63 - t);
    SetFineTuning(64 + p);
  }
}

void Window1::TransposeSlider_ValueChanged() {
  TransposeSliderValue()->SetText(rb::Str(-TransposeSlider()->Value()));
  Key()->SetText(kKeyNames.at(size_t(11 - TransposeSlider()->Value())));
  SetCoarseTuning(64 - TransposeSlider()->Value());
  const double size = rb::Abs(double(TransposeSlider()->Value()));
  for (size_t i = 0; i < kIntervalNames.size(); ++i) {
    if (size == double(i)) {
      TransposeSlider()->SetHelpTag(kIntervalNames[i]);
      break;
    }
  }
  // A new key starts without fine adjustment.
  PitchSlider()->SetValue(0);
}

bool Window1::TransposeSlider_MouseDown(int32_t, int32_t) {
  PitchSlider()->SetValue(0);
  return false;
}

bool Window1::StaticText1_MouseDown(int32_t, int32_t) {
  TransposeSlider()->SetValue(0);
  return false;
}

bool Window1::StaticText2_MouseDown(int32_t, int32_t) {
  PitchSlider()->SetValue(0);
  return false;
}

bool Window1::PitchSliderValue_MouseDown(int32_t, int32_t) {
  PitchSlider()->SetValue(0);
  return false;
}

bool Window1::TransposeSliderValue_MouseDown(int32_t, int32_t) {
  TransposeSlider()->SetValue(0);
  return false;
}

void Window1::SetCoarseTuning(int32_t value) {
  SendRegisteredParameter(*Window1Accessor()->player, kCoarseTuningParameter, value);
}

void Window1::SetFineTuning(int32_t value) {
  SendRegisteredParameter(*Window1Accessor()->player, kFineTuningParameter, value);
}
