// The host's functions as Simulation answers them, and their ways off
// the quick path. Each holds InsideHostScope around whatever it does that
// may allocate, handlers and watchers included: what is allocated there is
// the host's doing, not the plug-in's.
#include "sim/host/call_decoding.h"
#include "sim/host/catalogue_natives.h"
#include "sim/host/simulation.h"

namespace sim {

void Simulation::HostScriptRegister(void* module, ScriptEntry entry) {
  const InsideHostScope inside;
  RecordHost("scriptRegister");
  if (const char* refusal = lifeCycle_.ScriptRegisterRefusal(entry)) RaiseFault(refusal);
  lifeCycle_.RegisterScript(module, entry);
  labelLines_ = labelLines_ || lifeCycle_.Scripts().size() > 1;
  world_.Note("host", "script registered");
}

void Simulation::HostScriptUnregister(void* module) {
  const InsideHostScope inside;
  RecordHost("scriptUnregister");
  if (const char* refusal = lifeCycle_.ScriptUnregisterRefusal(module)) RaiseFault(refusal);
  lifeCycle_.UnregisterModule(module);
  world_.Note("host", "script unregistered");
}

void Simulation::HostScriptRegisterAdditionalThread(void* module, ScriptEntry entry) {
  const InsideHostScope inside;
  RecordHost("scriptRegisterAdditionalThread");
  if (const char* refusal = lifeCycle_.AdditionalThreadRefusal(entry)) RaiseFault(refusal);
  lifeCycle_.RegisterScript(module, entry);
  labelLines_ = labelLines_ || lifeCycle_.Scripts().size() > 1;
  world_.Note("host", "additional script thread registered");
}

void Simulation::HostScriptUnregisterScript(ScriptEntry entry) {
  const InsideHostScope inside;
  RecordHost("scriptUnregisterScript");
  if (const char* refusal = lifeCycle_.ScriptFunctionUnregisterRefusal(entry)) {
    RaiseFault(refusal);
  }
  lifeCycle_.UnregisterScriptFunction(entry);
  world_.Note("host", "script unregistered by its function");
}

void Simulation::HostKeyboardHandlerRegister(KeyboardHandler handler) {
  const InsideHostScope inside;
  RecordHost("keyboardHandlerRegister");
  if (const char* refusal = lifeCycle_.KeyboardHandlerRegisterRefusal(handler)) {
    RaiseFault(refusal);
  }
  // A script registers for its own module, whichever module loaded last.
  if (running_ != nullptr && !running_->plugin.empty()) {
    lifeCycle_.RegisterKeyboardHandler(handler, running_->plugin);
  } else {
    lifeCycle_.RegisterKeyboardHandler(handler);
  }
  world_.Note("host", "keyboard handler registered");
}

void Simulation::HostKeyboardHandlerUnregister(KeyboardHandler handler) {
  const InsideHostScope inside;
  RecordHost("keyboardHandlerUnregister");
  if (const char* refusal = lifeCycle_.KeyboardHandlerUnregisterRefusal(handler)) {
    RaiseFault(refusal);
  }
  lifeCycle_.UnregisterKeyboardHandler(handler);
  world_.Note("host", "keyboard handler unregistered");
}

// scriptWait, nativeInit, nativePush64 and nativeCall run for every wait and
// every native call the script makes: on the quick way through they do
// integer checks only and allocate nothing. A message is built once a check
// fails.

void Simulation::HostScriptWait(std::uint32_t ms) {
  if (!OnScriptFibre() || call_.open) [[unlikely]] {
    if (!RefuseWait(ms)) return;
  }
  if (Tracing()) [[unlikely]]
    RecordWait(ms);
  running_->wakeFrame = world_.clock.frame + 1;
  running_->wakeAtMs = world_.clock.nowMs + ms;
  Fibre::Yield();
}

void Simulation::RecordWait(std::uint32_t ms) {
  const InsideHostScope inside;
  RecordHost("scriptWait", {TraceValue::Int(ms)});
}

bool Simulation::RefuseWait(std::uint32_t ms) {
  const InsideHostScope inside;
  const bool onScriptFibre = OnScriptFibre();
  RaiseFault(WaitRefusal(ms, onScriptFibre));
  return onScriptFibre;
}

void Simulation::HostNativeInit(std::uint64_t hash) {
  if (!OnScriptFibre() || call_.open || callsThisFrame_ == keysInFrame_.FirstCall()) [[unlikely]]
    return SlowInit(hash);
  call_.Open(hash);
}

void Simulation::SlowInit(std::uint64_t hash) {
  if (!OnScriptFibre() || call_.open) return RefuseInit(hash);
  // The game's window thread may deliver a message at any moment, also while
  // the script is in the middle of its frame.
  DeliverKeysDueAt(callsThisFrame_);
  if (Faulted()) return;
  call_.Open(hash);
}

void Simulation::RefuseInit(std::uint64_t hash) {
  const InsideHostScope inside;
  RaiseFault(InitRefusal(dispatch_, call_, hash, OnScriptFibre()),
             RefusedCallOf(dispatch_, hash, nullptr, 0));
}

void Simulation::HostNativePush64(std::uint64_t value) {
  if (!OnScriptFibre() || !call_.open) [[unlikely]]
    return RefusePush();
  call_.Push(value);
}

void Simulation::RefusePush() {
  const InsideHostScope inside;
  RaiseFault(PushRefusal(OnScriptFibre()));
}

std::uint64_t* Simulation::HostNativeCall() {
  if (!OnScriptFibre() || !call_.open) [[unlikely]]
    return RefuseNativeCall(nullptr, false);
  call_.open = false;
  const NativeEntry* native = dispatch_.Find(call_.hash);
  // More than kMaxArgs pushes leave a count no native takes.
  if (native == nullptr || call_.argCount != native->argCount || !native->Accepts(call_.args))
      [[unlikely]]
    return RefuseNativeCall(native, true);

  call_.result[0] = call_.result[1] = call_.result[2] = call_.result[3] = 0;
  ++callsThisFrame_;  // added to the run's count at the end of the frame
  // Decoded only when someone reads it: the trace, or the flow for the natives
  // it follows; and a watcher is told of every call.
  if (slowCalls_ || native->followedByFlow) [[unlikely]]
    return WatchedCall(*native);

  const InsideHostScope inside;
  call_.frame.Begin(*native->signature, call_.argCount);
  native->handler(world_, call_.frame);
  return call_.result;
}

std::uint64_t* Simulation::RefuseNativeCall(const NativeEntry* native, bool opened) {
  // A hash the game lacks may be in the user's catalogue, which answers it.
  const NativeEntry* listed = native == nullptr && opened && options_.catalogue != nullptr
                                  ? options_.catalogue->Find(call_.hash)
                                  : nullptr;
  if (listed != nullptr) return CatalogueCall(*listed);
  // ... and a run may be told to answer a hash no table knows with 0.
  if (native == nullptr && opened && options_.unknownNatives != nullptr) {
    return UnknownNativeCall();
  }
  const InsideHostScope inside;
  const std::string message = CallRefusal(native, call_, opened, OnScriptFibre());
  // A nativeCall without nativeInit, or off the fibre, has no call of its own.
  if (opened && OnScriptFibre()) {
    RaiseFault(message, RefusedCallOf(dispatch_, call_.hash, call_.args, call_.argCount));
  } else {
    RaiseFault(message);
  }
  return call_.deadResult;
}

std::uint64_t* Simulation::WatchedCall(const NativeEntry& native) {
  if (watcher_ != nullptr) {
    const InsideHostScope inside;
    watcher_->OnNativeCall(*native.signature);
  }
  if (tracing_ || native.followedByFlow) return DecodedCall(native);
  const InsideHostScope inside;
  RunHandler(native);
  return call_.result;
}

void Simulation::RunHandler(const NativeEntry& native) {
  call_.frame.Begin(*native.signature, call_.argCount);
  native.handler(world_, call_.frame);
  if (answering_) AnswerFromScenario(*native.signature);
}

void Simulation::AnswerFromScenario(const NativeSignature& native) {
  // A handler that stopped the run has nothing to answer.
  if (Faulted()) return;
  NativeAnswer* answer = FindAnswer(scenario_.answers, native, world_.clock.frame);
  if (answer == nullptr) return;
  ApplyAnswer(*answer, call_.args, call_.argCount, call_.result);
  if (!answer->noted) {
    answer->noted = true;
    world_.Note("answers", DescribeAnswer(*answer));
  }
}

std::uint64_t* Simulation::DecodedCall(const NativeEntry& native) {
  const InsideHostScope inside;
  const NativeSignature& sig = *native.signature;
  callEntry_.frame = world_.clock.frame;
  callEntry_.time = world_.clock.gameTimer;
  DecodeArgs(sig, call_.args, call_.argCount, callEntry_);
  RunHandler(native);
  DecodeOuts(sig, call_.args, call_.argCount, callEntry_);
  if (sig.result != ResultKind::None) callEntry_.result = DecodeResult(sig, call_.result);
  if (labelLines_) [[unlikely]]
    LabelLine(callEntry_);
  flow_.OnNative(world_, callEntry_);
  if (Tracing()) Record(callEntry_);
  return call_.result;
}

}  // namespace sim
