#include "rb/Object.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A capture on the heap: reading it after its handler was freed is what
// AddressSanitizer reports.
const std::string kCapturedText(200, 'x');

TEST(Object, AHandlerOutlivesWhatItDoesToItsOwnEventOrObject) {
  struct Case {
    const char* what;
    // What the handler does to its own object before it reads its capture.
    void (*during)(rb::Ref<rb::Object>& owner);
  };
  const Case cases[] = {
      {"binds its own event anew", [](rb::Ref<rb::Object>& o) { o->SetHandler<void()>("Go", [] {}); }},
      {"removes its own event", [](rb::Ref<rb::Object>& o) { o->RemoveHandler("Go"); }},
      {"drops the last reference to its object", [](rb::Ref<rb::Object>& o) { o.reset(); }},
  };
  for (const auto& c : cases) {
    rb::Ref<rb::Object> owner = rb::New<rb::Object>();
    std::string seen;
    owner->SetHandler<void()>("Go", [&owner, &seen, &c, text = kCapturedText] {
      c.during(owner);
      seen = text;
    });
    rb::Object* raw = owner.get();
    raw->RaiseEvent<void>("Go");
    EXPECT_EQ(seen, kCapturedText) << c.what;
  }
}

TEST(Object, EventsCallTheBoundHandlerOrGiveTheDefault) {
  auto object = rb::New<rb::Object>();
  EXPECT_EQ(object->RaiseEvent<int>("Count"), 0) << "nothing bound";
  EXPECT_FALSE(object->HasHandler("Count"));
  object->SetHandler<int(int)>("Count", [](int n) { return n + 1; });
  EXPECT_TRUE(object->HasHandler("Count"));
  EXPECT_EQ(object->RaiseEvent<int>("Count", 41), 42);
  EXPECT_THROW(object->RaiseEvent<bool>("Count", 1), rb::RuntimeException) << "another signature";
  object->RemoveHandler("Count");
  EXPECT_EQ(object->RaiseEvent<int>("Count", 41), 0);
}

}  // namespace
