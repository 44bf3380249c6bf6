#include "ProcessLife.h"

#include "Chimewick.h"
#include "FileTypes.h"
#include "MenuBar1.h"
#include "MenuCommands.h"
#include "PlaybackEntrypoints.h"
#include "ProjectPictures.h"
#include "Resources.h"
#include "Window1.h"
#include "rb/PluginHost.h"
#include "rb/Runtime.h"

namespace {

std::function<void(std::string_view)> observer;

void Step(std::string_view name) {
  if (observer) observer(name);
}

}  // namespace

void SetProcessLifeObserverForTesting(std::function<void(std::string_view)> o) { observer = std::move(o); }

rb::Ref<FileTypesSet>& FileTypes() {
  static rb::Ref<FileTypesSet> set;
  return set;
}

void _InitFileTypes() {
  Step("_InitFileTypes");
  auto set = rb::New<FileTypesSet>();
  set->Text = rb::New<FileType>();
  set->Text->Name = "text";
  set->Text->Extensions = "";
  set->Text->MacType = "TEXT";
  FileTypes() = set;
}

void _NewAppInstance() {
  Step("_NewAppInstance");
  auto app = rb::New<Chimewick>();
  app->SetMenuBar(MenuBar1Accessor());
  rb::RuntimeRegisterAppObject(app);
}

void _ApplicationAddMenuHandlers() {
  // The application binds no command of its own: every one is the main
  // window's. The core cannot reach the shell, so this is where the shell
  // hands the main window its menubar and commands, before it is made.
  Step("_ApplicationAddMenuHandlers");
  InstallMainWindowMenus();
}

void _MakeDefaultView() {
  Step("_MakeDefaultView");
  Window1Accessor();  // the window lives on as the framework's implicit instance
}

void _Main() {
  try {
    Step("RuntimeInitExternalClasses");
    rb::LoadPlugins(rb::DefaultPluginFolder());
    Step("_InitPluginEntrypoints");
    _InitPluginEntrypoints();
    _InitFileTypes();
    _NewAppInstance();
    _ApplicationAddMenuHandlers();
    _MakeDefaultView();
    Step("RuntimeRun");
    rb::RuntimeRun();
  } catch (const std::exception& e) {
    rb::RuntimeUnhandledException(e);
  } catch (...) {
    // Not ours to name, but it must not skip finalisation either.
    rb::RuntimeUnhandledException(rb::RuntimeException("An exception of an unknown kind"));
  }
}

void Finalise() {
  ReleaseProjectPictures();
  rb::ReleaseWindowLists();
  FileTypes().reset();
  ReleaseMenuBar1();
}

int ChimewickMain(int argc, char** argv) {
  rb::RuntimeInit(argc, argv);
  rb::QuitOnTerminationSignals();
  // Started again while running (the desktop's way to bring it forward):
  // the running one activates, and this one ends before it opens MIDI.
  if (!rb::ClaimSingleInstance("Chimewick")) return rb::RuntimeExit();
  chimewick::InitResources();
  _Main();
  Finalise();
  return rb::RuntimeExit();
}
