// scenario-from's run: the fitter steps the world through the recording
// frame by frame, tries the fixes proposed for a frame's first differing
// answer and keeps one if the frame then plays as recorded; the finished
// scenario is run once more against the recording to list what it left out.
#include "sim/replay/scenario_fit.h"

#include <memory>
#include <string>

#include "sim/replay/scenario_fitter.h"

namespace sim {

namespace fit {

namespace {

// Fixes one frame may try before its remaining differences are taken as
// they are.
constexpr int kMaxFixesPerFrame = 64;

// One event as a scenario writes it, parsed as the simulator parses it.
EventList ParseEvent(const Json& event) {
  const std::shared_ptr<ScenarioDocument> doc =
      ScenarioDocument::Parse("(scenario-from event)", event.dump());
  EventList out;
  World::ParseEvent(ScenarioNode::Root(doc), out);
  return out;
}

// The world as a scenario that sets nothing leaves it.
World DefaultWorld() {
  const std::shared_ptr<ScenarioDocument> doc = ScenarioDocument::Parse("(defaults)", "{}");
  World world;
  world.Configure(ScenarioNode::Root(doc));
  return world;
}

}  // namespace

Fitter::Fitter(const RecordingOutline& outline, Scenario base)
    : outline_(outline), base_(std::move(base)), state_(base_) {
  replayer_.Attach(state_.world);
  state_.world.drawing.keepFrames = false;
  defaultLabels_ = DefaultWorld().labels.texts;
}

void Fitter::NoteSwitch(std::int64_t frame, const World& before) {
  const std::vector<Json>& events = fixEvents_[frame];
  for (std::size_t i = events.size(); i-- > 0;) {
    if (!events[i].contains("switchCharacter")) continue;
    if (lastSwitch_ && lastSwitch_->frame == frame && lastSwitch_->index == i) return;
    lastSwitch_ = Switch{frame, i, before.player.pedHandle, before.player.playerId};
    return;
  }
}

void Fitter::Run(RecordingFrames& frames) {
  std::int64_t frame = 0;
  const std::vector<TraceEntry>* lines = nullptr;
  const std::vector<TraceEntry> none;
  while (!ended_ && frames.Next(frame, lines)) {
    if (frame < 0) continue;
    if (frame >= outline_.frames) break;
    while (!ended_ && framesRun_ < frame) FitFrame(framesRun_, none);
    if (!ended_) FitFrame(frame, *lines);
  }
}

void Fitter::FitFrame(std::int64_t frame, const std::vector<TraceEntry>& lines) {
  // The fit keeps no notes: the frame's start is copied, and notes would
  // make each copy dearer.
  state_.world.timeline = Timeline{};
  RecordedWorld start = state_;
  const std::size_t baseFrom = nextBase_;
  EventList extra;
  std::set<std::size_t> rejected;
  FramePass pass = RunPass(frame, lines, extra, rejected);
  for (int tries = 0; pass.fixIndex && tries < kMaxFixesPerFrame; ++tries) {
    const std::size_t line = *pass.fixIndex;
    bool kept = false;
    for (const Fix& fix : pass.fixes) {
      RecordedWorld trialStart = start;
      if (fix.patch) fix.patch(trialStart.world);
      EventList trialExtra = extra;
      for (const Json& event : fix.events) {
        for (ScheduledEvent& e : ParseEvent(event)) trialExtra.push_back(std::move(e));
      }
      state_ = trialStart;
      nextBase_ = baseFrom;
      FramePass trial = RunPass(frame, lines, trialExtra, rejected);
      if (!trial.Differs(line) && trial.NoWorseBefore(line, pass)) {
        start = std::move(trialStart);
        extra = std::move(trialExtra);
        if (fix.keep) fix.keep();
        for (const Json& event : fix.events) fixEvents_[frame].push_back(event);
        NoteSwitch(frame, start.world);
        pass = std::move(trial);
        kept = true;
        break;
      }
    }
    if (!kept) {
      rejected.insert(line);
      state_ = start;
      nextBase_ = baseFrom;
      pass = RunPass(frame, lines, extra, rejected);
    }
  }
  KeepObservations(frame, pass.seen);
  ++framesRun_;
}

FramePass Fitter::RunPass(std::int64_t frame, const std::vector<TraceEntry>& lines,
                          const EventList& extra, const std::set<std::size_t>& rejected) {
  FramePass pass;
  state_.StartFrame(frame);
  while (nextBase_ < base_.events.size() && base_.events[nextBase_].frame <= frame) {
    const ScheduledEvent& event = base_.events[nextBase_++];
    state_.Apply(event);
    if (event.kind == EventKind::Unload) ended_ = true;
  }
  for (const ScheduledEvent& event : extra) state_.Apply(event);
  World& world = state_.world;
  world.BeginFrame();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TraceEntry& line = lines[i];
    if (line.native == nullptr || line.byRecorder) continue;
    const WorldAnswer answer = replayer_.Call(state_, line);
    Observe(frame, line, pass.seen);
    if (CompareAnswer(line, answer).Empty()) continue;
    pass.differing.push_back(i);
    if (pass.fixIndex || rejected.count(i) != 0) continue;
    std::vector<Fix> fixes = Propose(frame, line);
    if (!fixes.empty()) {
      pass.fixIndex = i;
      pass.fixes = std::move(fixes);
    }
  }
  world.EndFrame();
  replayer_.EndFrame(world);
  return pass;
}

}  // namespace fit

namespace {

fit::Json FitDocument(const RecordingOpener& open, RecordingOutline& outline) {
  {
    std::unique_ptr<RecordingFrames> frames = open();
    outline = OutlineRecording(*frames);
  }
  fit::Fitter fitter(outline, fit::BaseScenario(outline));
  {
    std::unique_ptr<RecordingFrames> frames = open();
    fitter.Run(*frames);
  }
  return fitter.Document("from the recording " + outline.name);
}

}  // namespace

std::string FitScenario(const RecordingOpener& open, RecordingOutline& outline) {
  return fit::WriteScenario(FitDocument(open, outline));
}

ScenarioFromRecording MakeScenarioFromRecording(const RecordingOpener& open) {
  ScenarioFromRecording made;
  fit::Json doc = FitDocument(open, made.outline);
  made.unexpressed = made.outline.unexpressed;
  RecordedRun check(
      Scenario::Parse("(the scenario from " + made.outline.name + ")", fit::WriteScenario(doc)),
      false);
  std::unique_ptr<RecordingFrames> frames = open();
  check.Run(*frames);
  // A game time the outline found no clock for is listed once, by the
  // outline: the run of the scenario then differs in those frames too.
  bool clockListed = false;
  for (const Unexpressed& item : made.outline.unexpressed.Items()) {
    clockListed = clockListed || item.what == "GET_GAME_TIMER";
  }
  made.unexpressed.Append(check.Differences(), clockListed ? "GET_GAME_TIMER" : "");
  // The name carries the count, so that the scenario says it is not the
  // whole recording wherever it goes; the list is scenario-from's output.
  if (!made.unexpressed.Empty()) {
    doc["name"] = doc["name"].get<std::string>() + " (" + std::to_string(made.unexpressed.Total()) +
                  " recorded answers the scenario format could not express)";
  }
  made.text = fit::WriteScenario(doc);
  return made;
}

std::string DescribeUnexpressed(const UnexpressedList& list) {
  std::string out;
  for (const Unexpressed& item : list.Items()) {
    out += "  " + item.what + ", from frame " + std::to_string(item.firstFrame);
    if (item.count > 1) out += " (" + std::to_string(item.count) + " answers)";
    out += ": " + item.detail + "\n";
  }
  return out;
}

}  // namespace sim
