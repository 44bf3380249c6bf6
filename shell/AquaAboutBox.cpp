#include "AquaAboutBox.h"

#include "Chimewick.h"
#include "ExceptionContext.h"
#include "ProjectPictures.h"
#include "ResourceText.h"
#include "StaticURL.h"

namespace {

// What differs from a new window: untitled, fixed, no minimise or zoom box,
// centred on the main screen.
const rb::PropertyList kWindowProperties = {
    {"Width", 284},        {"Height", 340},           {"Placement", 2},          {"Resizeable", false},
    {"LiveResize", false}, {"MaximizeButton", false}, {"MinimizeButton", false},
};

rb::PropertyList Label(int top, int height, int size, bool bold, bool multiline, const char* text) {
  return rb::Placed(24, top, 236, height,
                    {{"TextSize", size},
                     {"Bold", bold},
                     {"Multiline", multiline},
                     {"TextColor", "000000"},
                     {"TextAlign", 1},
                     {"Text", text}});
}

const char kProductName[] = "Chimewick";
const char kDescription[] = "Plug-n-Play Keyboard Synthesizer";
const char kMakerName[] = "Brambury Software";

}  // namespace

AquaAboutBox::AquaAboutBox() {
  SetHandler<void()>("Layout", [this] { Layout(); });
  SetHandler<void()>("CreateControls", [this] { CreateControls(); });
  SetHandler<void()>("AddMenuHandlers", [this] { AddMenuHandlers(); });
  SetHandler<void()>("Open", [this] { Event_Open(); });
}

void AquaAboutBox::Layout() { ApplyProperties(kWindowProperties); }

void AquaAboutBox::CreateControls() { _CreateControls0(); }

void AquaAboutBox::_CreateControls0() {
  auto icon = AddControl(rb::New<rb::Canvas>(), "icon");
  icon->SetBackdrop(ambersolid48kb());
  icon->ApplyProperties(rb::Placed(
      118, 25, 48, 47,
      {{"AcceptFocus", false}, {"AcceptTabs", false}, {"UseFocusRing", true}, {"EraseBackground", true}}));

  auto addLabel = [this](rb::Ref<rb::StaticText> made, const char* name, const rb::PropertyList& properties,
                         void (AquaAboutBox::*handler)(rb::StaticText&)) {
    auto label = AddControl(std::move(made), name);
    label->ApplyProperties(properties);
    rb::StaticText* control = label.get();
    label->SetHandler<void()>("Open", [this, control, handler] { (this->*handler)(*control); });
  };
  addLabel(rb::New<rb::StaticText>(), "name", Label(84, 19, 14, true, false, kProductName),
           &AquaAboutBox::name_Open);
  addLabel(rb::New<rb::StaticText>(), "version", Label(111, 12, 10, false, true, ""),
           &AquaAboutBox::version_Open);
  addLabel(rb::New<rb::StaticText>(), "description", Label(131, 39, 11, false, true, kDescription),
           &AquaAboutBox::description_Open);

  auto credits = AddControl(rb::New<rb::EditField>(), "credits");
  const rb::PropertyList creditsProperties = rb::Placed(24, 168, 236, 109,
                                                        {{"TextSize", 10},
                                                         {"Border", true},
                                                         {"Multiline", true},
                                                         {"ScrollbarVertical", true},
                                                         {"ScrollbarHorizontal", false},
                                                         {"ReadOnly", true},
                                                         {"Styled", false},
                                                         {"TextColor", "000000"},
                                                         {"BackColor", "FFFFFF"},
                                                         {"UseFocusRing", true},
                                                         {"LimitText", 0},
                                                         {"AcceptTabs", false},
                                                         {"Alignment", 0}});
  credits->ApplyProperties(creditsProperties);
  rb::EditField* creditsControl = credits.get();
  credits->SetHandler<void()>("Open", [this, creditsControl] { credits_Open(*creditsControl); });

  addLabel(rb::New<rb::StaticText>(), "copyright", Label(295, 12, 10, false, true, ""),
           &AquaAboutBox::copyright_Open);

  rb::PropertyList linkProperties = Label(307, 13, 10, false, false, kMakerName);
  linkProperties.push_back({"Underline", true});
  linkProperties.push_back({"TextColor", "0000CC"});
  addLabel(rb::New<StaticURL>(), "homePage", linkProperties, &AquaAboutBox::homePage_Open);
}

void AquaAboutBox::name_Open(rb::StaticText& control) {
  WithExceptionContext("AquaAboutBox.Name.Open", [&] { control.SetText(kProductName); });
}

void AquaAboutBox::version_Open(rb::StaticText& control) {
  WithExceptionContext("AquaAboutBox.Version.Open", [&] { control.SetText(App()->ShortVersion()); });
}

void AquaAboutBox::description_Open(rb::StaticText& control) {
  WithExceptionContext("AquaAboutBox.Description.Open", [&] { control.SetText(kDescription); });
}

void AquaAboutBox::credits_Open(rb::EditField& control) {
  WithExceptionContext("AquaAboutBox.Credits.Open",
                       [&] { control.SetText(chimewick::ResourceText("License.txt")); });
}

void AquaAboutBox::copyright_Open(rb::StaticText& control) {
  WithExceptionContext("AquaAboutBox.Copyright.Open",
                       [&] { control.SetText(chimewick::ResourceText("Copyright.txt")); });
}

void AquaAboutBox::homePage_Open(rb::StaticText& control) {
  WithExceptionContext("AquaAboutBox.HomePage.Open", [&] {
    auto& link = static_cast<StaticURL&>(control);
    link.SetText(kMakerName);
    link.URL = App()->HomePageAddress();
    if (link.URL == "") hideControl(link);
  });
}

void AquaAboutBox::AddMenuHandlers() {
  AddMenuHandler("FileClose", [this] { return _FileClose_Action(); });
}

void AquaAboutBox::Event_Open() {
  // The box has no minimise button; its window flags say so from Layout on,
  // and this keeps it so whatever the window system restored.
  WithExceptionContext("AquaAboutBox.Open", [&] { SetProperty("MinimizeButton", false); });
}

bool AquaAboutBox::_FileClose_Action() { return false; }

void AquaAboutBox::hideControl(rb::RectControl& control) {
  WithExceptionContext("AquaAboutBox.HideControl", [&] {
    if (!control.Visible()) return;
    const int count = ControlCount();
    int i = 0;
    while (i < count && ControlAt(i).get() != &control) ++i;
    if (i == count) return;  // not one of ours: nothing to close up
    // The last control has no next one to measure from: its own height and
    // the margin above it close the gap instead.
    const auto next =
        i + 1 < count ? rb::Cast<rb::RectControl>(ControlAt(i + 1)) : rb::Ref<rb::RectControl>();
    const int gap = next ? next->Top() - control.Top() : Height() - control.Top();
    control.SetVisible(false);
    for (int j = i; j < count; ++j) {
      if (auto moved = rb::Cast<rb::RectControl>(ControlAt(j))) moved->SetTop(moved->Top() - gap);
    }
    SetHeight(Height() - gap);
  });
}

rb::Ref<AquaAboutBox> AquaAboutBoxAccessor() { return rb::ImplicitInstance<AquaAboutBox>("AquaAboutBox"); }
