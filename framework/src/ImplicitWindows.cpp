// The framework's window lists: every open window, oldest first, and the
// implicit instance of each window class.
#include <QWidget>
#include <algorithm>
#include <vector>

#include "FrameworkInternal.h"
#include "rb/Window.h"

namespace rb {
namespace {

struct WindowLists {
  std::vector<Ref<Window>> open;
  std::vector<std::pair<String, Ref<Window>>> implicit;
};

WindowLists& Lists() {
  static WindowLists lists;
  return lists;
}

}  // namespace

Ref<Window> FindImplicitWindow(const String& className) {
  for (const auto& [name, window] : Lists().implicit) {
    if (name == className && window->IsOpen()) return window;
  }
  return nullptr;
}

void RegisterImplicitWindow(const String& className, Ref<Window> window) {
  auto& implicit = Lists().implicit;
  std::erase_if(implicit, [&](const auto& entry) { return entry.first == className; });
  implicit.emplace_back(className, std::move(window));
}

Array<Ref<Window>> OpenWindows() {
  Array<Ref<Window>> result;
  for (const Ref<Window>& window : Lists().open) result.Append(window);
  return result;
}

void ReleaseWindowLists() {
  // The implicit instances first, then the list of windows; each list is
  // moved out before it goes, since releasing a window may come back here.
  {
    auto implicit = std::move(Lists().implicit);
    Lists().implicit.clear();
  }
  auto open = std::move(Lists().open);
  Lists().open.clear();
}

void RegisterOpenWindow(Window* window) {
  auto& open = Lists().open;
  if (std::none_of(open.begin(), open.end(), [&](const Ref<Window>& w) { return w.get() == window; }))
    open.emplace_back(window);
}

void UnregisterWindow(Window* window) {
  // Held until both lists let go, so the last release happens here, not
  // inside erase_if.
  Ref<Window> keep(window);
  std::erase_if(Lists().open, [&](const Ref<Window>& w) { return w.get() == window; });
  std::erase_if(Lists().implicit, [&](const auto& entry) { return entry.second.get() == window; });
}

Window* WindowOfWidget(const QObject* object) {
  for (; object != nullptr; object = object->parent()) {
    const QVariant v = object->property("rbWindow");
    if (v.isValid()) {
      // Callers hold what they find: a window nobody holds yet (still being
      // made) would be freed by that.
      auto* window = static_cast<Window*>(v.value<void*>());
      return window != nullptr && window->RefCount() > 0 ? window : nullptr;
    }
    // A pop-up of its own (an open menu, a list's drop-down) keeps its keys.
    if (object->isWidgetType() && static_cast<const QWidget*>(object)->isWindow()) return nullptr;
  }
  return nullptr;
}

}  // namespace rb
