// Runs HUD code as the script inside the simulator and reads back what the
// game saw: the natives called and the items drawn in each frame.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "src/host/process_state.h"
#include "src/hud/hud_text.h"
#include "src/hud/panel.h"
#include "tests/support/sim_harness.h"

namespace hudtest {

// The panel's list, frame guard and clock and the text size override are
// process-wide: every test starts from the state at load.
inline void ResetHudState() { rebound::testing_seam::ResetProcessStateForTesting(); }

class HudTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHudState(); }
  void TearDown() override { ResetHudState(); }
};

// Runs `body` in frame 0 and then waits frame after frame; stops after
// `frames` frames. The run must not fault.
inline void RunScript(sim::Simulation& simulation, std::function<void()> body,
                      std::int64_t frames = 1) {
  simulation.SetScript([body = std::move(body)] {
    body();
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.RunFrames(frames)) << simulation.Fault();
}

// Runs `perFrame` once in every frame.
inline void RunEveryFrame(sim::Simulation& simulation, std::function<void()> perFrame,
                          std::int64_t frames) {
  simulation.SetScript([perFrame = std::move(perFrame)] {
    for (;;) {
      perFrame();
      scriptWait(0);
    }
  });
  ASSERT_TRUE(simulation.RunFrames(frames)) << simulation.Fault();
}

inline std::string Num(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

// "NAME(arg, arg, ...)" for each native call of a frame; floats to six
// significant digits, texts quoted.
inline std::vector<std::string> CallsInFrame(const sim::Trace& trace, std::int64_t frame) {
  std::vector<std::string> calls;
  for (const sim::TraceEntry& e : trace.Entries()) {
    if (e.frame != frame || e.native == nullptr) continue;
    std::string call = std::string(e.native->name) + "(";
    for (std::size_t i = 0; i < e.args.size(); ++i) {
      const sim::TraceValue& v = e.args[i];
      if (i > 0) call += ", ";
      switch (v.kind) {
        case sim::TraceValue::Kind::Float:
          call += Num(v.number);
          break;
        case sim::TraceValue::Kind::Text:
          call += "\"" + v.text + "\"";
          break;
        case sim::TraceValue::Kind::Bool:
          call += v.integer != 0 ? "true" : "false";
          break;
        case sim::TraceValue::Kind::Out:
          call += "&";
          break;
        default:
          call += std::to_string(v.integer);
          break;
      }
    }
    calls.push_back(call + ")");
  }
  return calls;
}

// A draw item in one line: what it is, where, how big and in which colour.
inline std::string Describe(const sim::DrawItem& item) {
  const auto colour = [](const sim::Colour& c) {
    return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) +
           "," + std::to_string(c.alpha);
  };
  switch (item.kind) {
    case sim::DrawKind::Rect:
      return "rect " + Num(item.x) + "," + Num(item.y) + " " + Num(item.width) + "x" +
             Num(item.height) + " " + colour(item.colour);
    case sim::DrawKind::Sprite:
      return "sprite " + item.dictionary + "/" + item.texture + " " + Num(item.x) + "," +
             Num(item.y) + " " + Num(item.width) + "x" + Num(item.height) + " " +
             colour(item.colour);
    case sim::DrawKind::Text:
      return "text \"" + item.text + "\" " + Num(item.x) + "," + Num(item.y) + " font " +
             std::to_string(item.style.font) + " size " + Num(item.style.size) + " " +
             colour(item.style.colour) + " just " + std::to_string(item.style.justification) +
             " wrap " + Num(item.style.wrapEnd) + (item.style.dropShadow ? " shadow" : "");
    case sim::DrawKind::Movie:
      return "movie " + item.texture;
    case sim::DrawKind::Texture:
      return "texture " + item.texture + " " + Num(item.x) + "," + Num(item.y) + " " +
             Num(item.width) + "x" + Num(item.height) + " " + colour(item.colour);
  }
  return "";
}

inline std::vector<std::string> DrawnInFrame(const sim::Simulation& simulation,
                                             std::int64_t frame) {
  std::vector<std::string> lines;
  for (const sim::DrawItem& item : simulation.GetWorld().drawing.DrawList(frame)) {
    lines.push_back(Describe(item));
  }
  return lines;
}

// Items of one kind drawn in a frame.
inline std::vector<sim::DrawItem> ItemsOfKind(const sim::Simulation& simulation, std::int64_t frame,
                                              sim::DrawKind kind) {
  std::vector<sim::DrawItem> items;
  for (const sim::DrawItem& item : simulation.GetWorld().drawing.DrawList(frame)) {
    if (item.kind == kind) items.push_back(item);
  }
  return items;
}

// A world in which the panel's dictionaries are resident from the start.
inline constexpr const char* kTexturesLoaded =
    R"({"frames": 100, "world": {"textures": {"loaded": ["timerbars", "commonmenu"]}}})";

}  // namespace hudtest
