#include "MidiClientZel.h"

#include <atomic>
#include <cstdio>
#include <exception>

#include "MidiService.h"
#include "rb/Runtime.h"

using chimewick::midi::ObjectKind;

namespace {

// Lets a queued event find out whether its client still lives. Cleared by
// the client's destructor, read on the event loop.
struct AliveToken {
  std::atomic<MidiClientZel*> client;
};

// Runs a queued client event, unless the client has been released.
template <class Raise>
void postClientEvent(const std::shared_ptr<AliveToken>& token, Raise raise) {
  rb::PostToEventLoop([token, raise = std::move(raise)] {
    MidiClientZel* client = token->client.load(std::memory_order_acquire);
    if (client == nullptr) return;
    rb::Ref<MidiClientZel> keep(client);
    try {
      raise(*keep);
    } catch (const std::exception& e) {
      rb::RuntimeUnhandledException(e);
    }
  });
}

rb::Ref<MidiObjectZel> objectFor(ObjectKind kind, int32_t handle) {
  if (kind == ObjectKind::Source) return rb::New<MidiEndpointZel>(handle, rb::String());
  return rb::New<MidiObjectZel>(handle, rb::String());
}

}  // namespace

// The client's link to the service: the backend client, and the listener
// that turns the backend's notifications into events on the event loop.
struct MidiClientZel::Service final : chimewick::midi::ClientListener {
  explicit Service(MidiClientZel& owner) : token(std::make_shared<AliveToken>()) {
    token->client.store(&owner, std::memory_order_release);
  }

  void objectAdded(ObjectKind kind, int32_t handle) override { postObject("ObjectAdded", kind, handle); }
  void objectRemoved(ObjectKind kind, int32_t handle) override { postObject("ObjectRemoved", kind, handle); }
  void setupChanged() override {
    postClientEvent(token, [](MidiClientZel& c) { c.RaiseEvent<void>("SetupChanged"); });
  }

  void postObject(const char* event, ObjectKind kind, int32_t handle) {
    postClientEvent(token, [event, kind, handle](MidiClientZel& c) {
      // The parent is the service itself (handle 0); the child the object.
      c.RaiseEvent<void, rb::Ref<MidiObjectZel>, rb::Ref<MidiObjectZel>>(
          event, rb::New<MidiObjectZel>(0, rb::String()), objectFor(kind, handle));
    });
  }

  void close() {
    if (backend) backend->detachListener();
    backend.reset();
  }

  std::shared_ptr<AliveToken> token;
  std::shared_ptr<chimewick::midi::ServiceClient> backend;
};

MidiClientZel::MidiClientZel() : service_(std::make_unique<Service>(*this)) {}

MidiClientZel::~MidiClientZel() {
  service_->token->client.store(nullptr, std::memory_order_release);
  service_->close();
}

void MidiClientZel::Init(rb::Ref<CFStringZel> name) {
  service_->close();
  setHandle(0);
  const rb::String clientName = name ? name->Str() : rb::String();
  int32_t status = chimewick::midi::kStatusNoService;
  service_->backend = chimewick::midi::openServiceClient(clientName.Bytes(), *service_, status);
  if (!service_->backend) {
    setLasterror(status != 0 ? status : chimewick::midi::kStatusNoService);
    return;
  }
  setName(clientName);
  setHandle(service_->backend->handle());
  setLasterror(chimewick::midi::kStatusOk);
}

void MidiClientZel::CreateInputPort(rb::Ref<CFStringZel> name, rb::Ref<MidiPortZel> port) {
  if (!port) {
    setLasterror(chimewick::midi::kStatusBadArgument);
    return;
  }
  if (!service_->backend) {
    // The status of the failed Init says why; it stays the client's.
    if (Lasterror() == chimewick::midi::kStatusOk) setLasterror(chimewick::midi::kStatusNoService);
    return;
  }
  const rb::String portName = name ? name->Str() : rb::String();
  // The port's old service port goes before the new one delivers.
  port->attach(nullptr, portName);
  int32_t status = chimewick::midi::kStatusOk;
  auto input = service_->backend->createInputPort(portName.Bytes(), port->delivery(), status);
  if (!input) {
    setLasterror(status != 0 ? status : chimewick::midi::kStatusNoService);
    return;
  }
  port->attach(std::move(input), portName);
  setLasterror(chimewick::midi::kStatusOk);
}

int32_t MidiClientZel::NumberOfSources() {
  if (!service_->backend) return 0;
  return int32_t(service_->backend->sources().size());
}

rb::Ref<MidiEndpointZel> MidiClientZel::GetSource(int32_t index) {
  if (!service_->backend || index < 0) return nullptr;
  const auto sources = service_->backend->sources();
  if (size_t(index) >= sources.size()) return nullptr;
  return rb::New<MidiEndpointZel>(sources[size_t(index)].handle, rb::String(sources[size_t(index)].name));
}
