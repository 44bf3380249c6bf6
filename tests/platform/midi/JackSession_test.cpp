// The shared JACK client under load from several threads at once, as the
// program uses it: the audio output registers its ports on the UI thread
// while the MIDI worker connects a keyboard that was just plugged.
#include "chimewick/JackSession.h"

#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "PrivateJackServer.h"

namespace {

using chimewick_test::PrivateJackServer;
using namespace std::chrono_literals;

TEST(JackSessionLive, PortsRegisteredAndConnectedFromTwoThreadsAtOnceNeverHang) {
  PrivateJackServer server;
  if (!server.start()) CHIMEWICK_LIVE_SKIP(server.reason());
  int32_t status = 0;
  std::shared_ptr<chimewick::jack::Session> session = chimewick::jack::Session::open("Chimewick", status);
  ASSERT_TRUE(session) << "status " << status;
  const std::string name = session->clientName();
  jack_port_t* out = nullptr;
  jack_port_t* in = nullptr;
  session->withClient([&](jack_client_t* c) {
    out = jack_port_register(c, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in = jack_port_register(c, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  });
  ASSERT_NE(out, nullptr);
  ASSERT_NE(in, nullptr);

  constexpr int kRounds = 150;
  std::atomic<int> registered{0}, connected{0};
  // Each thread in a future of its own: a hang shows as a time-out here,
  // not as a test binary that never ends.
  auto registering = std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      session->withClient([&](jack_client_t* c) {
        jack_port_t* port = jack_port_register(c, ("audio" + std::to_string(i)).c_str(),
                                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (port == nullptr) return;
        chimewick::jack::Session::unregisterPort(c, port);
        registered.fetch_add(1);
      });
    }
  });
  auto connecting = std::async(std::launch::async, [&] {
    const std::string from = name + ":out", to = name + ":in";
    for (int i = 0; i < kRounds; ++i) {
      session->withClient([&](jack_client_t* c) {
        if (jack_connect(c, from.c_str(), to.c_str()) == 0 &&
            jack_disconnect(c, from.c_str(), to.c_str()) == 0)
          connected.fetch_add(1);
      });
    }
  });
  const bool ended = registering.wait_for(60s) == std::future_status::ready &&
                     connecting.wait_for(60s) == std::future_status::ready;
  if (!ended) {
    ADD_FAILURE() << "requests from two threads hung after " << registered.load() << " registrations and "
                  << connected.load() << " connections";
    std::_Exit(1);  // the threads wait on the server for ever: nothing to clean up
  }
  EXPECT_EQ(registered.load(), kRounds);
  EXPECT_EQ(connected.load(), kRounds);
  session->withClient([&](jack_client_t* c) {
    chimewick::jack::Session::unregisterPort(c, out);
    chimewick::jack::Session::unregisterPort(c, in);
  });
}

}  // namespace
