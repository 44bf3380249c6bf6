#include "Graph.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "AudioLog.h"
#include "FilterUnit.h"
#include "OutputUnit.h"
#include "Registry.h"
#include "SynthUnit.h"

namespace chimewick::audio {

namespace {

enum class Kind { Synth, Filter, Output, Unknown };

// Type, subtype and manufacturer name a unit; the flags do not.
bool names(const ComponentDescription& d, const ComponentDescription& unit) {
  return d.componentType == unit.componentType && d.componentSubType == unit.componentSubType &&
         d.componentManufacturer == unit.componentManufacturer;
}

Kind kindOf(const ComponentDescription& d) {
  if (names(d, kDLSSynthDescription)) return Kind::Synth;
  if (names(d, kLowPassFilterDescription)) return Kind::Filter;
  if (names(d, kDefaultOutputDescription)) return Kind::Output;
  return Kind::Unknown;
}

// The synthesizer's sound is on output bus 1; the filter has bus 0 each way;
// the output takes input 0.
bool hasOutputBus(Kind kind, uint32_t bus) {
  return (kind == Kind::Synth && bus == 1) || (kind == Kind::Filter && bus == 0);
}
bool hasInputBus(Kind kind, uint32_t bus) {
  return (kind == Kind::Filter || kind == Kind::Output) && bus == 0;
}

std::atomic<bool> offlineRendering{false};

}  // namespace

void Graph::setOfflineRendering(bool offline) { offlineRendering.store(offline); }

Graph::~Graph() { close(); }

Graph::Node* Graph::findNode(AUNode id) {
  auto found = std::find_if(nodes_.begin(), nodes_.end(), [id](const Node& n) { return n.id == id; });
  return found == nodes_.end() ? nullptr : &*found;
}

Graph::Node* Graph::outputNode() {
  auto found = std::find_if(nodes_.begin(), nodes_.end(),
                            [](const Node& n) { return kindOf(n.description) == Kind::Output; });
  return found == nodes_.end() ? nullptr : &*found;
}

OSStatus Graph::makeUnit(Node& node) {
  std::shared_ptr<Unit> unit;
  switch (kindOf(node.description)) {
    case Kind::Synth:
      unit = SynthUnit::create(node.description, sampleRate_);
      break;
    case Kind::Filter:
      unit = std::make_shared<FilterUnit>(node.description);
      break;
    case Kind::Output:
      unit = std::make_shared<OutputUnit>(node.description);
      break;
    case Kind::Unknown:
      break;
  }
  if (!unit) return kAudioErr_NoComponent;
  const AudioUnit handle = Registry::instance().addUnit(unit);
  node.unit = std::move(unit);
  node.handle = handle;
  return 0;
}

void Graph::dropUnit(Node& node) {
  if (!node.unit) return;
  // Unregistered first, so that calls from other threads find nothing from
  // here on; one already under way holds the unit until it returns.
  Registry::instance().removeUnit(node.handle);
  if (OutputUnit* output = node.unit->asOutput()) output->close();
  node.unit->uninitialize();
  node.unit.reset();
  node.handle = 0;
}

OSStatus Graph::newNode(const ComponentDescription* description, AUNode* outNode) {
  if (description == nullptr || outNode == nullptr) {
    logLine("AUGraphNewNode needs a description and a place for the node");
    return kAudioErr_InvalidHandle;
  }
  const Kind kind = kindOf(*description);
  if (kind == Kind::Unknown) {
    logLine("no unit for the description 0x%08x 0x%08x 0x%08x", description->componentType,
            description->componentSubType, description->componentManufacturer);
    return kAudioErr_NoComponent;
  }
  if (kind == Kind::Output && outputNode() != nullptr) {
    logLine("a graph has one output node");
    return kAudioErr_NoComponent;
  }
  Node node;
  node.id = ++lastNode_;
  node.description = *description;
  if (open_) {
    if (OSStatus status = makeUnit(node)) return status;
    if (initialized_) {
      if (OSStatus status = node.unit->initialize(sampleRate_)) {
        dropUnit(node);
        return status;
      }
    }
  }
  *outNode = node.id;
  nodes_.push_back(std::move(node));
  publishNodes();
  return 0;
}

OSStatus Graph::connect(AUNode source, uint32_t sourceOutput, AUNode destination, uint32_t destinationInput) {
  Node* from = findNode(source);
  Node* to = findNode(destination);
  if (from == nullptr || to == nullptr) {
    logLine("AUGraphConnectNodeInput: no node %d in this graph", from == nullptr ? source : destination);
    return kAudioErr_InvalidHandle;
  }
  if (source == destination || !hasOutputBus(kindOf(from->description), sourceOutput) ||
      !hasInputBus(kindOf(to->description), destinationInput)) {
    logLine("node %d output %u cannot feed node %d input %u (the synthesizer plays on output 1)", source,
            sourceOutput, destination, destinationInput);
    return kAudioErr_InvalidConnection;
  }
  const bool taken = std::any_of(connections_.begin(), connections_.end(), [&](const Connection& c) {
    return c.destination == destination && c.destinationInput == destinationInput;
  });
  if (taken) {
    logLine("node %d input %u is connected already", destination, destinationInput);
    return kAudioErr_InvalidConnection;
  }
  connections_.push_back(Connection{source, sourceOutput, destination, destinationInput});
  return 0;
}

OSStatus Graph::update(bool* outIsUpdated) {
  if (running_) publishPlan();
  if (outIsUpdated != nullptr) *outIsUpdated = true;
  return 0;
}

OSStatus Graph::open() {
  if (open_) return 0;
  for (Node& node : nodes_) {
    if (OSStatus status = makeUnit(node)) {
      for (Node& made : nodes_) dropUnit(made);
      return status;
    }
  }
  open_ = true;
  publishNodes();
  return 0;
}

OSStatus Graph::initialize() {
  if (!open_) {
    logLine("AUGraphInitialize: the graph is not open");
    return kAudioErr_NotInitialized;
  }
  if (initialized_) return 0;
  for (Node& node : nodes_) {
    if (OSStatus status = node.unit->initialize(sampleRate_)) {
      for (Node& done : nodes_) done.unit->uninitialize();
      return status;
    }
  }
  engine_.setSampleRate(sampleRate_);
  initialized_ = true;
  return 0;
}

OSStatus Graph::nodeInfo(AUNode id, ComponentDescription* outDescription, AudioUnit* outUnit) const noexcept {
  const NodeTable* table = nodeTable_.load(std::memory_order_acquire);
  const NodeView* node = nullptr;
  if (table != nullptr) {
    for (const NodeView& view : table->nodes)
      if (view.id == id) node = &view;
  }
  if (node == nullptr) {
    logLine("AUGraphGetNodeInfo: no node %d in this graph", id);
    return kAudioErr_InvalidHandle;
  }
  if (outUnit != nullptr && !table->open) {
    logLine("AUGraphGetNodeInfo: the graph is not open, so node %d has no unit yet", id);
    return kAudioErr_NotInitialized;
  }
  if (outDescription != nullptr) *outDescription = node->description;
  if (outUnit != nullptr) *outUnit = node->handle;
  return 0;
}

std::unique_ptr<RenderPlan> Graph::buildPlan() {
  auto plan = std::make_unique<RenderPlan>();
  Node* output = outputNode();
  if (output == nullptr) return plan;
  std::array<LowPassFilter*, RenderPlan::kMaxFilters> nearestFirst{};
  int filterCount = 0;
  AUNode current = output->id;
  // Walks from the output back towards the synthesizer; a chain longer than
  // the plan holds (or a loop of filters) plays nothing.
  for (int step = 0; step <= RenderPlan::kMaxFilters; ++step) {
    auto feeding = std::find_if(connections_.begin(), connections_.end(), [current](const Connection& c) {
      return c.destination == current && c.destinationInput == 0;
    });
    if (feeding == connections_.end()) return plan;
    Node* source = findNode(feeding->source);
    if (source == nullptr || !source->unit) return plan;
    if (SynthUnit* synth = source->unit->asSynth()) {
      plan->synth = synth->synth();
      for (int i = 0; i < filterCount; ++i) plan->filters[i] = nearestFirst[filterCount - 1 - i];
      plan->filterCount = filterCount;
      return plan;
    }
    FilterUnit* filter = source->unit->asFilter();
    if (filter == nullptr || filterCount == RenderPlan::kMaxFilters) return std::make_unique<RenderPlan>();
    nearestFirst[filterCount++] = &filter->filter();
    current = source->id;
  }
  return std::make_unique<RenderPlan>();
}

void Graph::publishPlan() { engine_.publish(buildPlan()); }

void Graph::adoptSampleRate(double rate) {
  sampleRate_ = rate;
  for (Node& node : nodes_) {
    if (!node.unit) continue;
    if (SynthUnit* synth = node.unit->asSynth()) synth->changeSampleRate(rate);
    if (FilterUnit* filter = node.unit->asFilter()) filter->filter().configure(rate);
  }
  engine_.setSampleRate(rate);
}

OSStatus Graph::start() {
  if (!initialized_) {
    logLine("AUGraphStart: the graph is not initialised");
    return kAudioErr_NotInitialized;
  }
  if (running_) return 0;
  if (offlineRendering.load()) {
    offlineLeft_.assign(RenderEngine::kMaxBlockFrames, 0.0f);
    offlineRight_.assign(RenderEngine::kMaxBlockFrames, 0.0f);
    publishPlan();
    offline_ = true;
    running_ = true;
    return 0;
  }
  Node* output = outputNode();
  if (output == nullptr) {
    logLine("AUGraphStart: the graph has no output node");
    return kAudioErr_NoOutputDevice;
  }
  const char* setting = std::getenv("CHIMEWICK_AUDIO_OUTPUT");
  std::unique_ptr<OutputDevice> device =
      openOutputDevice(setting != nullptr ? setting : "auto", engine_, sampleRate_);
  if (!device) return kAudioErr_NoOutputDevice;
  const OutputGrant grant = device->grant();
  // Until the plan is published the device renders silence, so the units
  // can still follow a rate the device imposes.
  if (grant.sampleRate > 0.0 && grant.sampleRate != sampleRate_) adoptSampleRate(grant.sampleRate);
  const uint64_t passesBefore = engine_.passes();
  output->unit->asOutput()->attach(std::move(device));
  publishPlan();
  running_ = true;

  if (grant.periods == 0) {
    // A JACK server's period is the server's, not ours to ask.
    logLine("output %s: %.0f Hz, the server's period of %d frames (%.1f ms)", grant.device.c_str(),
            sampleRate_, grant.periodFrames, 1000.0 * grant.periodFrames / sampleRate_);
    return 0;
  }
  // The block the device actually asks for shows what it granted.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (engine_.passes() == passesBefore && std::chrono::steady_clock::now() < giveUp)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int block = engine_.lastBlockFrames();
  const double requestedMs = 1000.0 * grant.periodFrames * grant.periods / sampleRate_;
  if (block > 0) {
    logLine(
        "output %s: %.0f Hz, asked for %d periods of %d frames (%.1f ms), renders %d frames a buffer (%.1f "
        "ms)",
        grant.device.c_str(), sampleRate_, grant.periods, grant.periodFrames, requestedMs, block,
        1000.0 * block / sampleRate_);
  } else {
    logLine("output %s: %.0f Hz, asked for %d periods of %d frames (%.1f ms), no buffer asked for yet",
            grant.device.c_str(), sampleRate_, grant.periods, grant.periodFrames, requestedMs);
  }
  return 0;
}

OSStatus Graph::stop() {
  if (!running_) return 0;
  if (Node* output = outputNode(); output != nullptr && output->unit) output->unit->asOutput()->close();
  engine_.publish(nullptr);
  running_ = false;
  offline_ = false;
  return 0;
}

OSStatus Graph::uninitialize() {
  stop();
  if (!initialized_) return 0;
  for (Node& node : nodes_)
    if (node.unit) node.unit->uninitialize();
  initialized_ = false;
  return 0;
}

OSStatus Graph::removeNode(AUNode id) {
  auto found = std::find_if(nodes_.begin(), nodes_.end(), [id](const Node& n) { return n.id == id; });
  if (found == nodes_.end()) {
    logLine("AUGraphRemoveNode: no node %d in this graph", id);
    return kAudioErr_InvalidHandle;
  }
  Node leaving = std::move(*found);
  nodes_.erase(found);
  publishNodes();
  std::erase_if(connections_, [id](const Connection& c) { return c.source == id || c.destination == id; });
  // The device closes first if it is this node's; otherwise the running
  // graph stops rendering through the node before the node goes.
  if (leaving.unit) {
    if (OutputUnit* output = leaving.unit->asOutput()) output->close();
  }
  if (running_) publishPlan();
  dropUnit(leaving);
  return 0;
}

OSStatus Graph::cpuLoad(float* outLoad) const {
  if (outLoad == nullptr) {
    logLine("AUGraphGetCPULoad needs a place for the load");
    return kAudioErr_InvalidHandle;
  }
  *outLoad = running_ ? engine_.cpuLoad() : 0.0f;
  return 0;
}

OSStatus Graph::renderOffline(uint32_t frames, float* interleavedStereo) {
  if (!running_ || !offline_) {
    logLine("AUGraphRenderOffline: the graph is not started for offline rendering");
    return kAudioErr_NotInitialized;
  }
  if (interleavedStereo == nullptr && frames > 0) {
    logLine("AUGraphRenderOffline needs a buffer");
    return kAudioErr_InvalidHandle;
  }
  for (uint32_t done = 0; done < frames;) {
    const int block = static_cast<int>(std::min<uint32_t>(frames - done, RenderEngine::kMaxBlockFrames));
    engine_.render(block, offlineLeft_.data(), offlineRight_.data());
    for (int i = 0; i < block; ++i) {
      interleavedStereo[2 * (done + i)] = offlineLeft_[i];
      interleavedStereo[2 * (done + i) + 1] = offlineRight_[i];
    }
    done += static_cast<uint32_t>(block);
  }
  return 0;
}

void Graph::close() {
  uninitialize();
  for (Node& node : nodes_) dropUnit(node);
  open_ = false;
  publishNodes();
}

void Graph::publishNodes() {
  auto table = std::make_unique<NodeTable>();
  table->open = open_;
  for (const Node& node : nodes_) table->nodes.push_back({node.id, node.description, node.handle});
  nodeTable_.store(table.get(), std::memory_order_release);
  // A lookup on another thread may still read the table before.
  Registry::instance().quiesce();
  ownedTable_ = std::move(table);
}

}  // namespace chimewick::audio
