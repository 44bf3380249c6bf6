// One audio graph: its nodes, their connections, its state (open,
// initialised, running) and the engine its output pulls from.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "AudioToolbox.h"
#include "RenderEngine.h"

namespace chimewick::audio {

class Unit;

class Graph {
 public:
  static constexpr double kDefaultSampleRate = 48000.0;

  Graph() = default;
  // Stops, uninitialises and closes whatever is still up. Control thread; waits.
  ~Graph();
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // The graph calls, each as its AUGraph... namesake. Control thread, but
  // for nodeInfo, which any thread may call while it holds a
  // Registry::Reader (no lock, no allocation: the real-time thread's MIDI
  // finds the synthesizer through it).
  OSStatus newNode(const ComponentDescription* description, AUNode* outNode);
  OSStatus connect(AUNode source, uint32_t sourceOutput, AUNode destination, uint32_t destinationInput);
  OSStatus update(bool* outIsUpdated);
  OSStatus open();
  OSStatus initialize();
  OSStatus nodeInfo(AUNode node, ComponentDescription* outDescription, AudioUnit* outUnit) const noexcept;
  OSStatus start();
  OSStatus stop();
  OSStatus uninitialize();
  OSStatus removeNode(AUNode node);
  OSStatus cpuLoad(float* outLoad) const;
  OSStatus renderOffline(uint32_t frames, float* interleavedStereo);
  double sampleRate() const { return sampleRate_; }

  // While set, start() opens no device; renderOffline() pulls the sound. Any thread.
  static void setOfflineRendering(bool offline);

  // Stops, uninitialises and closes the graph; the destructor has nothing
  // left to do after it. Control thread; waits for the output to close.
  void close();

 private:
  struct Node {
    AUNode id = 0;
    ComponentDescription description{};
    std::shared_ptr<Unit> unit;  // from open() on
    AudioUnit handle = 0;
  };
  struct Connection {
    AUNode source = 0;
    uint32_t sourceOutput = 0;
    AUNode destination = 0;
    uint32_t destinationInput = 0;
  };

  Node* findNode(AUNode id);
  Node* outputNode();
  OSStatus makeUnit(Node& node);
  void dropUnit(Node& node);
  std::unique_ptr<RenderPlan> buildPlan();
  void publishPlan();
  void publishNodes();
  void adoptSampleRate(double rate);

  // First, so it outlives the output device that calls into it.
  RenderEngine engine_;
  // The UI thread's alone; other threads read the node table.
  std::vector<Node> nodes_;
  std::vector<Connection> connections_;
  bool open_ = false;
  // What nodeInfo reads: a copy of the nodes, replaced on every change.
  struct NodeView {
    AUNode id;
    ComponentDescription description;
    AudioUnit handle;
  };
  struct NodeTable {
    std::vector<NodeView> nodes;
    bool open = false;
  };
  std::atomic<const NodeTable*> nodeTable_{nullptr};
  std::unique_ptr<const NodeTable> ownedTable_;
  AUNode lastNode_ = 0;
  bool initialized_ = false;
  bool running_ = false;
  bool offline_ = false;
  double sampleRate_ = kDefaultSampleRate;
  std::vector<float> offlineLeft_, offlineRight_;
};

}  // namespace chimewick::audio
