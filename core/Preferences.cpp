// The preferences file "Chimewick.prefs" in the user's preferences folder:
// thirteen lines in an XML-like form holding the sliders, the selected
// instrument, the six preset names and the volume. Read once at open,
// written once at close. Instruments are stored by name, never by row.
#include <array>
#include <string_view>

#include "Window1.h"
#include "rb/Files.h"
#include "rb/RegEx.h"
#include "rb/Text.h"

namespace {

constexpr const char* kPreferencesFileName = "Chimewick.prefs";
constexpr std::array<const char*, Window1::kPresetCount> kPresetKeys = {"Preset1", "Preset2", "Preset3",
                                                                        "Preset4", "Preset5", "Preset6"};

// The text up to and including the last closing tag of key (any letter
// case), or "" when there is none. A value always ends at a closing tag, so
// nothing after the last one can match; cutting it off keeps a file full of
// unclosed opening tags from costing one scan to the end per tag.
std::string_view UpToLastClosingTag(std::string_view text, const rb::String& key) {
  const std::string closing = "</" + key.Bytes() + ">";
  const char* bytes = text.data();
  for (size_t start = text.size(); start-- > 0;) {
    if (bytes[start] == '<' && text.size() - start >= closing.size() && bytes[start + 1] == '/' &&
        rb::StrCompare(text.substr(start, closing.size()), closing) == 0) {
      return text.substr(0, start + closing.size());
    }
  }
  return {};
}

}  // namespace

rb::Variant Window1::IniGet(const rb::String& key, const rb::String& text) {
  rb::Ref<rb::RegEx> expression = rb::New<rb::RegEx>();
  expression->Options.CaseSensitive = false;
  expression->Options.DotMatchAll = true;
  expression->Options.Greedy = false;
  expression->SearchPattern = "<" + key + ">(.*)</" + key + ">";
  const std::string_view searched = UpToLastClosingTag(text.Bytes(), key);
  if (searched.empty()) return nullptr;
  rb::Ref<rb::RegExMatch> match = expression->Search(rb::String(searched));
  if (!match) return nullptr;
  return match->SubExpressionString(1);
}

rb::Variant Window1::IniPut(const rb::String& key, const rb::Variant& value) {
  return "<" + key + ">" + value.StringValue() + "</" + key + ">";
}

void Window1::ReadPreferences() {
  rb::Ref<rb::FolderItem> folder = rb::PreferencesFolder();
  if (!folder) return;
  rb::Ref<rb::FolderItem> file = folder->Child(kPreferencesFileName);
  if (!file) return;
  rb::Ref<rb::TextInputStream> stream = file->OpenAsTextFile();
  if (!stream) return;
  const rb::String text = stream->ReadAll();

  // An element that is present but empty counts as found: the variant
  // comparison tells an empty text from nil.
  const rb::Variant nil;
  // Transposition first: its change resets the pitch.
  if (rb::Variant value = IniGet("Transpose", text); !(value == nil)) {
    double x = rb::Val(value.StringValue());
    x = rb::Max(x, -11.0);
    x = rb::Min(x, 11.0);
    TransposeSlider()->SetValue(rb::ToInt32(x));
  }
  if (rb::Variant value = IniGet("Pitch", text); !(value == nil)) {
    double x = rb::Val(value.StringValue());
    x = rb::Max(x, -63.0);
    x = rb::Min(x, 63.0);
    PitchSlider()->SetValue(rb::ToInt32(x));
  }
  if (rb::Variant value = IniGet("DefaultInstrumentName", text); !(value == nil)) {
    DefaultInstrumentName = value.StringValue();
  }
  for (int32_t k = 1; k <= kPresetCount; ++k) {
    if (rb::Variant value = IniGet(kPresetKeys[size_t(k - 1)], text); !(value == nil)) {
      PresetInstrument(k) = value.StringValue();
    }
  }
  if (rb::Variant value = IniGet("Volume", text); !(value == nil)) {
    Volume.store(rb::ToInt32(rb::Val(value.StringValue())), std::memory_order_relaxed);
    Window1Accessor()->player->SendMidiEvent(176, 7, Volume.load(std::memory_order_relaxed), 0);
  }
  stream->Close();
}

void Window1::SavePreferences() {
  rb::Ref<rb::FolderItem> folder = rb::PreferencesFolder();
  if (!folder) return;
  rb::Ref<rb::FolderItem> file = folder->Child(kPreferencesFileName);
  if (!file) return;
  rb::Ref<rb::TextOutputStream> stream = file->CreateTextFile();
  if (!stream) return;
  stream->WriteLine("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  stream->WriteLine("<chimewickprefs version=\"1.0\">");
  stream->WriteLine(IniPut("Transpose", TransposeSlider()->Value()).StringValue());
  stream->WriteLine(IniPut("Pitch", PitchSlider()->Value()).StringValue());
  stream->WriteLine(IniPut("DefaultInstrumentName", InstrumentsList()->Text()).StringValue());
  for (int32_t k = 1; k <= kPresetCount; ++k) {
    stream->WriteLine(IniPut(kPresetKeys[size_t(k - 1)], Preset(k)->HelpTag()).StringValue());
  }
  stream->WriteLine(IniPut("Volume", Volume.load(std::memory_order_relaxed)).StringValue());
  stream->WriteLine("</chimewickprefs>");
  stream->Close();
}
