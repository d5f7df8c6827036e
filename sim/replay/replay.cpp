// The replay host. The main loop walks the recording and does what the host
// did at each host line (load, start the script, deliver a key, resume the
// script, unload); the plug-in's own calls, on its fibre, each take the next
// recorded call, compare it and answer it. A call costs one line read, a
// comparison of slots with values, and the answer's writes: no JSON is built
// unless the calls differ.
#include "sim/replay/replay.h"

#include <bit>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "sim/base/number_format.h"
#include "sim/base/seed.h"
#include "sim/host/call_decoding.h"
#include "sim/platform/module.h"

namespace sim {

namespace {

// The replay under way, for the seed source (a plain function) the plug-in
// draws its random numbers through.
Replay* current = nullptr;

bool IsOutKind(ArgKind kind) {
  return kind == ArgKind::OutInt || kind == ArgKind::OutFloat || kind == ArgKind::OutVector ||
         kind == ArgKind::InOutInt;
}

bool SameFloat(float a, double b) {
  const auto expected = static_cast<float>(b);
  return a == expected || (std::isnan(a) && std::isnan(expected));
}

// A text as the trace writes it: bytes that are not UTF-8 become U+FFFD.
std::string AsTraceText(const char* text) {
  const std::string dumped =
      nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return nlohmann::json::parse(dumped).get<std::string>();
}

// Whether the plug-in's slot carries the recorded argument.
bool SameArg(ArgKind kind, std::uint64_t slot, const TraceValue& expected) {
  switch (kind) {
    case ArgKind::Int:
      return expected.kind == TraceValue::Kind::Int &&
             static_cast<std::int32_t>(static_cast<std::uint32_t>(slot)) == expected.integer;
    case ArgKind::Bool:
      return expected.kind == TraceValue::Kind::Bool && (slot != 0) == (expected.integer != 0);
    case ArgKind::Float:
      return expected.kind == TraceValue::Kind::Float &&
             SameFloat(std::bit_cast<float>(static_cast<std::uint32_t>(slot)), expected.number);
    case ArgKind::Text:
    case ArgKind::TextOrNull: {
      if (slot == 0) return expected.kind == TraceValue::Kind::Null;
      if (expected.kind != TraceValue::Kind::Text) return false;
      const char* text = reinterpret_cast<const char*>(slot);
      return std::strcmp(text, expected.text.c_str()) == 0 || AsTraceText(text) == expected.text;
    }
    case ArgKind::OutInt:
    case ArgKind::OutFloat:
    case ArgKind::OutVector:
    case ArgKind::InOutInt:
      return slot != 0 && expected.kind == TraceValue::Kind::Out;
  }
  return false;
}

std::uint32_t FloatBits(double value) {
  return std::bit_cast<std::uint32_t>(static_cast<float>(value));
}

}  // namespace

Replay::Replay(TraceReader& reader, ReplayOptions options)
    : reader_(reader), lines_(reader), options_(options), next_(std::make_unique<TraceEntry>()) {
  for (std::unique_ptr<TraceEntry>& entry : history_) entry = std::make_unique<TraceEntry>();
}

Replay::~Replay() {
  if (lifeCycle_.Loaded()) Unload(false);
  if (current == this) current = nullptr;
}

Replay::LineKind Replay::Classify(const TraceEntry& e) {
  if (e.native != nullptr) return e.byRecorder ? LineKind::Skipped : LineKind::Call;
  const std::string& h = e.host;
  if (h == "scriptWait" || h == "randomDraw" || h == "scriptRegister" ||
      h == "keyboardHandlerRegister" || h == "scriptUnregister" ||
      h == "keyboardHandlerUnregister") {
    return LineKind::Call;
  }
  if (h == "keyboard") return LineKind::Keyboard;
  if (h == "scriptStart") return LineKind::ScriptStart;
  if (h == "attach") return LineKind::Attach;
  if (h == "detach") return LineKind::Detach;
  // A run that stopped at a fault: its last line; the plug-in's next call is the refused one.
  if (h == "dropped" || h == "capped" || h == "fault") return LineKind::End;
  return LineKind::Skipped;  // seed, droppedKeys
}

bool Replay::Peek() {
  if (hasNext_) return true;
  if (atEnd_ || stopped_) return false;
  try {
    if (!lines_.Next(*next_)) {
      atEnd_ = true;
      return false;
    }
  } catch (const RecordingError& error) {
    // Read on the script fibre too, inside the plug-in's call: nothing may
    // be thrown through the plug-in.
    result_.outcome = ReplayResult::Outcome::Unreadable;
    result_.error = error.what();
    Stop();
    return false;
  }
  hasNext_ = true;
  model_.OnLine(*next_);
  if (next_->frame + 1 > result_.frames) result_.frames = next_->frame + 1;
  return true;
}

void Replay::Consume(bool call) {
  hasNext_ = false;
  if (call) afterRecorderCalls_ = false;
  lastFrame_ = next_->frame;
  lastTime_ = next_->time;
  if (!call) return;
  ++result_.callsChecked;
  if (next_->native != nullptr) ++result_.nativeCalls;
  // Swapped, not copied: the history's oldest entry lends its room (and its
  // lists' room) to the next line.
  std::swap(history_[historyNext_], next_);
  historyNext_ = (historyNext_ + 1) % kContext;
  if (historySize_ < kContext) ++historySize_;
}

void Replay::SkipLine(const TraceEntry& entry) {
  if (entry.IsHost("seed") && !entry.args.empty()) {
    seed_ = static_cast<std::uint64_t>(entry.args[0].integer);
  } else if (entry.IsHost("droppedKeys") && !entry.args.empty()) {
    result_.droppedKeys += static_cast<std::uint64_t>(entry.args[0].integer);
  }
}

const TraceEntry* Replay::ExpectCall(const char* host, std::uint64_t hash) {
  for (;;) {
    if (!Peek()) {
      // A recording cut off in the middle of a frame (the game crashed, the
      // file was copied while written) ends the check there. Off the fibre
      // (attach, detach) the caller names the call the recording lacks.
      if (!stopped_ && lifeCycle_.Script() != nullptr && Fibre::OnFibre()) {
        End("the recording ends inside frame " + std::to_string(lastFrame_) +
            ", where the plug-in went on with " +
            (host != nullptr ? std::string(host) : ReadableHash(hash)));
      }
      return nullptr;
    }
    switch (Classify(*next_)) {
      case LineKind::Call:
        return next_.get();
      case LineKind::Skipped:
        afterRecorderCalls_ = next_->byRecorder;
        SkipLine(*next_);
        Consume(false);
        continue;
      case LineKind::Keyboard:
        // A message that arrived before this call: delivered first.
        DeliverKeyboard(*next_);
        Consume(false);
        continue;
      case LineKind::End:
        End(std::string("the recording has a ") + next_->host + " line here (" + reader_.Name() +
            ":" + std::to_string(lines_.Line()) + ")");
        return nullptr;
      case LineKind::Attach:
      case LineKind::Detach:
      case LineKind::ScriptStart:
        // The host did something here, between two calls of a frame: where
        // the recorded script was waiting, this one makes a call.
        return next_.get();
    }
  }
}

std::string Replay::ReadableHash(std::uint64_t hash) {
  const NativeSignature* signature = FindNative(hash);
  return signature != nullptr ? signature->name : HexHash(hash);
}

// ---------------------------------------------------------------------------
// Stopping.

void Replay::Stop() {
  stopped_ = true;
  call_.open = false;
  if (lifeCycle_.Script() != nullptr && Fibre::OnFibre()) {
    // The script stops here for good: the main loop sees the stop.
    for (;;) Fibre::Yield();
  }
}

void Replay::End(std::string note) {
  if (stopped_) return;
  result_.endNote = std::move(note);
  Stop();
}

void Replay::Differ(std::string actual) {
  DifferAtEnd(hasNext_ ? Trace::ToJson(*next_) : std::string("(the recording has nothing more)"),
              std::move(actual));
}

void Replay::DifferAtEnd(std::string expected, std::string actual) {
  if (stopped_) return;
  ReplayDifference d;
  d.frame = hasNext_ ? next_->frame : lastFrame_;
  d.call = result_.callsChecked;
  d.line = hasNext_ ? lines_.Line() : 0;
  d.expected = std::move(expected);
  d.actual = std::move(actual);
  d.hint = std::move(hint_);
  for (std::size_t i = 0; i < historySize_; ++i) {
    const std::size_t at = (historyNext_ + kContext - historySize_ + i) % kContext;
    d.before.push_back(Trace::ToJson(*history_[at]));
  }
  result_.outcome = ReplayResult::Outcome::Differs;
  result_.difference = std::move(d);
  Stop();
}

std::string Replay::ActualHostLine(const char* host, std::optional<std::int64_t> value) const {
  TraceEntry e;
  e.frame = hasNext_ ? next_->frame : lastFrame_;
  e.time = hasNext_ ? next_->time : lastTime_;
  e.host = host;
  // A draw has no value of its own: the plug-in asked for one.
  if (value) e.args.push_back(TraceValue::Int(*value));
  return Trace::ToJson(e);
}

std::string Replay::ActualNativeLine() const {
  TraceEntry e;
  e.frame = hasNext_ ? next_->frame : lastFrame_;
  e.time = hasNext_ ? next_->time : lastTime_;
  const NativeSignature* signature = FindNative(call_.hash);
  if (signature == nullptr || call_.argCount != signature->args.size()) {
    // Not a call the catalogue can decode: the slots as they are.
    nlohmann::ordered_json j;
    j["frame"] = e.frame;
    j["time"] = e.time;
    j["native"] = HexHash(call_.hash);
    if (signature != nullptr) j["name"] = signature->name;
    auto slots = nlohmann::ordered_json::array();
    const std::size_t n = std::min(call_.argCount, kMaxArgs);
    for (std::size_t i = 0; i < n; ++i) slots.push_back(HexHash(call_.args[i]));
    j["slots"] = slots;
    return j.dump();
  }
  DecodeArgs(*signature, call_.args, call_.argCount, e);
  return Trace::ToJson(e);
}

// ---------------------------------------------------------------------------
// The host functions.

bool Replay::MatchHostCall(const char* host, std::optional<std::int64_t> value) {
  if (!checking_) return false;
  const TraceEntry* expected = ExpectCall(host, 0);
  if (expected == nullptr) {
    if (!stopped_) DifferAtEnd("(the recording has nothing more)", ActualHostLine(host, value));
    return false;
  }
  const bool same = expected->native == nullptr && expected->host == host &&
                    (!value || (!expected->args.empty() && expected->args[0].integer == *value));
  if (!same) {
    Differ(ActualHostLine(host, value));
    return false;
  }
  Consume(true);
  return true;
}

// The recording holds what the host saw: replay checks the calls against it
// rather than refusing them as the simulation does.
void Replay::ScriptRegister(void* module, ScriptEntry entry) {
  if (!MatchHostCall("scriptRegister", std::nullopt) && checking_) return;
  lifeCycle_.RegisterScript(module, entry);
}

void Replay::ScriptUnregister(void* module) {
  MatchHostCall("scriptUnregister", std::nullopt);
  lifeCycle_.UnregisterModule(module);
}

void Replay::KeyboardHandlerRegister(KeyboardHandler handler) {
  if (!MatchHostCall("keyboardHandlerRegister", std::nullopt) && checking_) return;
  lifeCycle_.RegisterKeyboardHandler(handler);
}

void Replay::KeyboardHandlerUnregister(KeyboardHandler handler) {
  MatchHostCall("keyboardHandlerUnregister", std::nullopt);
  lifeCycle_.UnregisterKeyboardHandler(handler);
}

// Replay follows a recording of Rebound, which has one script: another
// script's calls are not in it.
void Replay::ScriptRegisterAdditionalThread(void* /*module*/, ScriptEntry /*entry*/) {
  MatchHostCall("scriptRegisterAdditionalThread", std::nullopt);
}

void Replay::ScriptUnregisterScript(ScriptEntry entry) {
  MatchHostCall("scriptUnregisterScript", std::nullopt);
  lifeCycle_.UnregisterScriptFunction(entry);
}

void Replay::ScriptWait(std::uint32_t ms) {
  if (lifeCycle_.Script() == nullptr || !Fibre::OnFibre()) {
    // Only the script may wait; the recording cannot have it otherwise.
    if (checking_) Differ(ActualHostLine("scriptWait", ms) + " (outside the script)");
    return;
  }
  if (!MatchHostCall("scriptWait", ms)) {
    if (!checking_) {
      for (;;) Fibre::Yield();  // the check is over: the script never runs again
    }
    return;
  }
  scriptWaiting_ = true;
  Fibre::Yield();
  scriptWaiting_ = false;
}

void Replay::NativeInit(std::uint64_t hash) {
  call_.Open(hash);
  // The next line is read here, so that a keyboard message recorded before
  // this call reaches the handler before the call, as the simulator
  // delivers it.
  if (checking_) ExpectCall(nullptr, hash);
}

void Replay::NativePush64(std::uint64_t value) { call_.Push(value); }

std::uint64_t* Replay::NativeCall() {
  call_.result[0] = call_.result[1] = call_.result[2] = call_.result[3] = 0;
  const bool open = call_.open;
  call_.open = false;
  if (!open || !checking_ || stopped_) return call_.result;
  // Already read at nativeInit, unless something came between.
  const TraceEntry* expected = ExpectCall(nullptr, call_.hash);
  if (expected == nullptr || !MatchNative(*expected)) return call_.result;
  Answer(*expected);
  Consume(true);
  return call_.result;
}

bool Replay::MatchNative(const TraceEntry& expected) {
  const NativeSignature* signature = expected.native;
  bool same = signature != nullptr && signature->hash == call_.hash &&
              call_.argCount == signature->args.size();
  for (std::size_t i = 0; same && i < call_.argCount; ++i) {
    same = SameArg(signature->args[i], call_.args[i], expected.args[i]);
  }
  if (!same) {
    // The recording build asks the game's frame count itself after every
    // wait, just where the recording has its own such call.
    constexpr std::uint64_t kFrameCountHash = 0xFC8202EFC642E6F2;  // GET_FRAME_COUNT
    if (call_.hash == kFrameCountHash && afterRecorderCalls_ &&
        (signature == nullptr || signature->hash != kFrameCountHash)) {
      hint_ =
          "the plug-in asks GET_FRAME_COUNT where the recorder made its own calls: it looks like "
          "the recording build (librebound-recorder.so, Rebound-recorder.asi), which asks the "
          "frame count itself; replay checks the player's build (librebound.so, Rebound.asi)";
    }
    Differ(ActualNativeLine());
  }
  return same;
}

void Replay::Answer(const TraceEntry& expected) {
  const NativeSignature& signature = *expected.native;
  std::size_t out = 0;
  for (std::size_t i = 0; i < signature.args.size() && out < expected.outs.size(); ++i) {
    const ArgKind kind = signature.args[i];
    if (!IsOutKind(kind)) continue;
    const TraceValue& v = expected.outs[out++];
    switch (kind) {
      case ArgKind::OutFloat:
        *reinterpret_cast<float*>(call_.args[i]) = static_cast<float>(v.number);
        break;
      case ArgKind::OutVector:
        *reinterpret_cast<GameVector*>(call_.args[i]) =
            GameVector{static_cast<float>(v.vector[0]), 0, static_cast<float>(v.vector[1]), 0,
                       static_cast<float>(v.vector[2]), 0};
        break;
      default:
        *reinterpret_cast<std::int32_t*>(call_.args[i]) = static_cast<std::int32_t>(v.integer);
        break;
    }
  }
  if (!expected.result) return;  // the plug-in did not read one
  const TraceValue& r = *expected.result;
  switch (r.kind) {
    case TraceValue::Kind::Int:
    case TraceValue::Kind::Bool:
      call_.result[0] = static_cast<std::uint32_t>(static_cast<std::int32_t>(r.integer));
      break;
    case TraceValue::Kind::Float:
      call_.result[0] = FloatBits(r.number);
      break;
    case TraceValue::Kind::Vector:
      for (int k = 0; k < 3; ++k) call_.result[k] = FloatBits(r.vector[k]);
      break;
    case TraceValue::Kind::Text:
      call_.result[0] = reinterpret_cast<std::uintptr_t>(StableText(r.text));
      break;
    case TraceValue::Kind::Null:
    case TraceValue::Kind::Out:
      break;
  }
}

const char* Replay::StableText(const std::string& text) {
  // The game keeps its texts in its own storage, and a plug-in may hold the
  // pointer a while: each text is kept once, for the whole replay.
  return texts_.insert(text).first->c_str();
}

std::uint32_t Replay::RecordedDraw() { return current != nullptr ? current->Draw() : 0; }

std::uint32_t Replay::Draw() {
  if (!options_.recordedDraws) return SeedOfRun(seed_.value_or(0), seedsDrawn_++);
  if (!MatchHostCall("randomDraw", std::nullopt)) return 0;
  // Consume moved the line into the history.
  const TraceEntry& drawn = *history_[(historyNext_ + kContext - 1) % kContext];
  return static_cast<std::uint32_t>(drawn.args[0].integer);
}

// ---------------------------------------------------------------------------
// The main loop: the host's side.

void Replay::DeliverKeyboard(const TraceEntry& entry) {
  if (entry.args.size() != 7) return;
  std::uint32_t args[7];
  for (std::size_t i = 0; i < 7; ++i) args[i] = static_cast<std::uint32_t>(entry.args[i].integer);
  // On the game window's thread, as the host delivers it; nothing without a handler.
  lifeCycle_.DeliverKey(args);
}

void Replay::Load(const std::string& pluginPath) {
  std::string error;
  bool drawsHandedOver = true;
  const bool loaded = lifeCycle_.Load(
      pluginPath,
      [&](void* module) {
        // Before its entry runs, so that every draw of the module is the
        // recording's.
        drawsHandedOver =
            module != nullptr && platform::SetModuleSeedSource(module, &Replay::RecordedDraw);
      },
      error);
  if (!loaded) {
    if (stopped_) return;  // the entry made a call the recording does not have
    result_.outcome = ReplayResult::Outcome::CannotLoad;
    result_.error = error;
    stopped_ = true;
    return;
  }
  if (!drawsHandedOver && !stopped_) {
    result_.outcome = ReplayResult::Outcome::CannotLoad;
    result_.error = "the plug-in " + pluginPath +
                    " has no seed export (ReboundSetSeedSource): the recorded random draws "
                    "cannot be handed to it";
    stopped_ = true;
  }
}

void Replay::StartScript() {
  DropScript();
  if (!lifeCycle_.ScriptRegistered()) {
    Differ("(no script registered: the plug-in never called scriptRegister)");
    return;
  }
  lifeCycle_.BeginScript();
  ResumeScript();
}

void Replay::ResumeScript() {
  lifeCycle_.ResumeScript();
  if (lifeCycle_.Script()->Finished() && !stopped_) {
    Differ("(the script entry returned; it must loop for ever)");
  }
}

void Replay::DropScript() {
  if (!lifeCycle_.DropScript()) return;
  scriptWaiting_ = false;
  call_.open = false;
}

void Replay::Unload(bool checked) {
  // The plug-in's calls while it detaches are checked only when the
  // recording got that far.
  std::string error;
  const bool unloaded = lifeCycle_.Unload([&] { checking_ = checked && !stopped_; }, error);
  if (!unloaded && checked && !stopped_) {
    Differ("(the plug-in's detach failed: " + error + ")");
  }
  checking_ = checked;
}

ReplayResult Replay::Run(const std::string& pluginPath) {
  current = this;
  const AlternateHostScope host(*this);
  try {
    while (!stopped_ && Peek()) {
      switch (Classify(*next_)) {
        case LineKind::Skipped:
          SkipLine(*next_);
          Consume(false);
          break;
        case LineKind::Attach:
          if (lifeCycle_.Loaded())
            reader_.Fail(lines_.Line(), "field \"host\": attach while the plug-in is loaded");
          Consume(false);
          Load(pluginPath);
          break;
        case LineKind::ScriptStart:
          Consume(false);
          StartScript();
          break;
        case LineKind::Keyboard:
          DeliverKeyboard(*next_);
          Consume(false);
          break;
        case LineKind::Detach:
          Consume(false);
          if (lifeCycle_.Loaded()) Unload(true);
          // The unregister calls recorded after the detach that the plug-in
          // did not make show as a difference at the next line.
          break;
        case LineKind::End:
          End(std::string("the recording has a ") + next_->host + " line at frame " +
              std::to_string(next_->frame) + " (" + reader_.Name() + ":" +
              std::to_string(lines_.Line()) + ")");
          break;
        case LineKind::Call:
          if (lifeCycle_.Script() != nullptr && scriptWaiting_) {
            ResumeScript();
          } else {
            Differ(!lifeCycle_.Loaded() ? "(nothing: the plug-in is not loaded)"
                                        : "(nothing: the script is not running)");
          }
          break;
      }
    }
  } catch (const RecordingError& error) {
    result_.outcome = ReplayResult::Outcome::Unreadable;
    result_.error = error.what();
  }
  if (lifeCycle_.Loaded()) Unload(false);
  current = nullptr;
  result_.modelDifferences = model_.Reports();
  return result_;
}

}  // namespace sim
