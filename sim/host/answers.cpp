#include "sim/host/answers.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "sim/base/number_format.h"
#include "sim/host/catalogue_natives.h"

namespace sim {

namespace {

bool IsOut(ArgKind kind) {
  return kind == ArgKind::OutInt || kind == ArgKind::OutFloat || kind == ArgKind::OutVector ||
         kind == ArgKind::InOutInt;
}

// "0x" and one to sixteen hex digits: a native named by its hash.
bool IsHashName(const std::string& name) {
  if (name.size() < 3 || name.size() > 18 || name[0] != '0' || (name[1] != 'x' && name[1] != 'X'))
    return false;
  return name.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
}

// The native an answer names, by name or "0x" and its hash, among the game's
// natives; null when the game's table lacks it (the user's catalogue may
// list it: see ResolveCatalogueAnswers).
const NativeSignature* GameNativeNamed(const std::string& name) {
  if (IsHashName(name)) return FindNative(std::strtoull(name.c_str() + 2, nullptr, 16));
  return FindNativeByName(name);
}

// ... among the natives of the user's catalogue that the game lacks.
const NativeSignature* CatalogueNativeNamed(const std::string& name,
                                            const CatalogueNatives& catalogue) {
  if (IsHashName(name)) {
    const NativeEntry* entry = catalogue.Find(std::strtoull(name.c_str() + 2, nullptr, 16));
    return entry != nullptr ? entry->signature : nullptr;
  }
  for (const NativeSignature& native : catalogue.Natives()) {
    if (native.name == name) return &native;
  }
  return nullptr;
}

[[noreturn]] void FailUnknownNative(const ScenarioNode& node, const CatalogueNatives* catalogue) {
  const std::string name = node.AsString();
  const std::string where =
      catalogue != nullptr
          ? "neither the game (rebound-sim natives) nor " + catalogue->FileName() + " lists it"
          : "rebound-sim natives lists the natives the game knows; --natives FILE adds those of "
            "your own catalogue";
  if (IsHashName(name)) node.Fail("no native has the hash " + name + " (" + where + ")");
  node.Fail("unknown native \"" + name + "\" (" + where + ")");
}

std::uint64_t FloatSlot(float value) { return std::bit_cast<std::uint32_t>(value); }

std::uint64_t IntSlot(const ScenarioNode& node) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(node.AsInt(INT32_MIN, INT32_MAX)));
}

void ReadResult(const ScenarioNode& node, NativeAnswer& answer) {
  const NativeSignature& sig = *answer.native;
  const std::string who = ReadableNativeName(sig);
  const nlohmann::json& v = node.Json();
  const std::string got = ", got " + JsonTypeName(v);
  switch (sig.result) {
    case ResultKind::None:
      node.Fail(who + " returns nothing: there is no result to answer" +
                (sig.args.end() != std::find_if(sig.args.begin(), sig.args.end(), IsOut)
                     ? " (its out-variables are answered with 'outs')"
                     : ""));
    case ResultKind::Int:
      if (!v.is_number()) node.Fail(who + " returns an integer" + got);
      answer.result[0] = IntSlot(node);
      break;
    case ResultKind::Bool:
      if (!v.is_boolean() && !v.is_number()) node.Fail(who + " returns true or false" + got);
      answer.result[0] = node.AsBool() ? 1 : 0;
      break;
    case ResultKind::Float:
      if (!v.is_number() && !v.is_string()) node.Fail(who + " returns a float" + got);
      answer.result[0] = FloatSlot(node.AsFloat());
      break;
    case ResultKind::Vector: {
      if (!v.is_array()) node.Fail(who + " returns a vector [x, y, z]" + got);
      const Vec3 p = node.AsVec3();
      answer.result[0] = FloatSlot(p.x);
      answer.result[1] = FloatSlot(p.y);
      answer.result[2] = FloatSlot(p.z);
      break;
    }
    case ResultKind::Text:
      if (!v.is_string() && !v.is_null()) node.Fail(who + " returns a text (or null)" + got);
      answer.nullText = v.is_null();
      if (!answer.nullText) answer.text = node.AsString();
      break;
  }
  answer.hasResult = true;
}

AnsweredOut ReadOut(const ScenarioNode& node, std::uint32_t arg, ArgKind kind,
                    const std::string& who) {
  AnsweredOut out;
  out.arg = arg;
  out.kind = kind;
  const nlohmann::json& v = node.Json();
  if (v.is_null()) {
    out.keep = true;
    return out;
  }
  const std::string what = who + "'s argument " + std::to_string(arg + 1) + " (" +
                           std::string(ArgKindName(kind)) + ") takes ";
  const std::string got = ", got " + JsonTypeName(v);
  switch (kind) {
    case ArgKind::OutFloat:
      if (!v.is_number() && !v.is_string()) node.Fail(what + "a float" + got);
      out.vector.x = node.AsFloat();
      break;
    case ArgKind::OutVector:
      if (!v.is_array()) node.Fail(what + "a vector [x, y, z]" + got);
      out.vector = node.AsVec3();
      break;
    default:
      if (!v.is_number()) node.Fail(what + "an integer" + got);
      out.integer = static_cast<std::int32_t>(node.AsInt(INT32_MIN, INT32_MAX));
      break;
  }
  return out;
}

void ReadOuts(const ScenarioNode& node, NativeAnswer& answer) {
  const NativeSignature& sig = *answer.native;
  const std::string who = ReadableNativeName(sig);
  std::vector<std::uint32_t> outArgs;
  std::string kinds;
  for (std::uint32_t i = 0; i < sig.args.size(); ++i) {
    if (!IsOut(sig.args[i])) continue;
    outArgs.push_back(i);
    kinds += (kinds.empty() ? "" : ", ") + std::string(ArgKindName(sig.args[i]));
  }
  if (outArgs.empty()) node.Fail(who + " has no out-variables");
  const std::vector<ScenarioNode> items = node.Items();
  if (items.size() != outArgs.size()) {
    node.Fail(who + " has " + std::to_string(outArgs.size()) + " out-variable" +
              (outArgs.size() == 1 ? "" : "s") + " (" + kinds + "), got " +
              std::to_string(items.size()) + " values");
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    answer.outs.push_back(ReadOut(items[i], outArgs[i], sig.args[outArgs[i]], who));
  }
}

// Two spans of one native would leave open which answer a call gets.
void RefuseOverlap(const std::vector<NativeAnswer>& earlier, const NativeAnswer& answer,
                   const ScenarioNode& fromNode) {
  for (std::size_t i = 0; i < earlier.size(); ++i) {
    const NativeAnswer& e = earlier[i];
    if (e.native != answer.native || answer.from > e.to || e.from > answer.to) continue;
    fromNode.Fail("frames " + std::to_string(answer.from) + " to " + std::to_string(answer.to) +
                  " overlap answers[" + std::to_string(i) + "] (frames " + std::to_string(e.from) +
                  " to " + std::to_string(e.to) + ") for the same native " +
                  ReadableNativeName(*answer.native));
  }
}

NativeAnswer ReadAnswer(const ScenarioNode& item, const NativeSignature& native) {
  NativeAnswer answer;
  answer.native = &native;
  answer.from = item.Child("from").AsInt(0, INT32_MAX);
  const ScenarioNode toNode = item.Child("to");
  answer.to = toNode.AsInt(0, INT32_MAX);
  if (answer.to < answer.from) {
    toNode.Fail("expected a frame at or after 'from' (" + std::to_string(answer.from) + ")");
  }
  const auto result = item.Optional("result");
  const auto outs = item.Optional("outs");
  if (!result && !outs) item.Fail("an answer needs 'result', 'outs' or both");
  if (result) ReadResult(*result, answer);
  if (outs) ReadOuts(*outs, answer);
  return answer;
}

}  // namespace

std::vector<NativeAnswer> ParseAnswers(const ScenarioNode& list,
                                       std::vector<ScenarioNode>& elsewhere) {
  std::vector<NativeAnswer> answers;
  for (const ScenarioNode& item : list.Items()) {
    item.ExpectObject();
    const NativeSignature* native = GameNativeNamed(item.Child("native").AsString());
    if (native == nullptr) {
      // Read once the catalogue is known; its fields count as read now, so
      // that the scenario's check of unknown fields passes them.
      for (const char* field : {"from", "to", "result", "outs"}) item.Optional(field);
      elsewhere.push_back(item);
      continue;
    }
    NativeAnswer answer = ReadAnswer(item, *native);
    RefuseOverlap(answers, answer, item.Child("from"));
    answers.push_back(std::move(answer));
  }
  return answers;
}

void ResolveCatalogueAnswers(std::vector<NativeAnswer>& answers,
                             std::vector<ScenarioNode>& elsewhere,
                             const CatalogueNatives* catalogue) {
  for (const ScenarioNode& item : elsewhere) {
    const ScenarioNode nativeNode = item.Child("native");
    const NativeSignature* native =
        catalogue != nullptr ? CatalogueNativeNamed(nativeNode.AsString(), *catalogue) : nullptr;
    if (native == nullptr) FailUnknownNative(nativeNode, catalogue);
    NativeAnswer answer = ReadAnswer(item, *native);
    RefuseOverlap(answers, answer, item.Child("from"));
    answers.push_back(std::move(answer));
  }
  elsewhere.clear();
}

NativeAnswer* FindAnswer(std::vector<NativeAnswer>& answers, const NativeSignature& native,
                         std::int64_t frame) {
  for (NativeAnswer& answer : answers) {
    if (answer.native == &native && frame >= answer.from && frame <= answer.to) return &answer;
  }
  return nullptr;
}

void ApplyAnswer(const NativeAnswer& answer, const std::uint64_t* args, std::size_t argCount,
                 std::uint64_t* result) {
  if (answer.hasResult) {
    if (answer.native->result == ResultKind::Text) {
      result[0] = answer.nullText ? 0 : reinterpret_cast<std::uintptr_t>(answer.text.c_str());
    } else {
      for (int i = 0; i < 3; ++i) result[i] = answer.result[i];
    }
  }
  for (const AnsweredOut& out : answer.outs) {
    // A call of a catalogue's native may push fewer arguments than its
    // signature gives: an out-variable it did not pass is not written.
    if (out.keep || out.arg >= argCount) continue;
    const std::uint64_t slot = args[out.arg];
    switch (out.kind) {
      case ArgKind::OutFloat:
        *reinterpret_cast<float*>(slot) = out.vector.x;
        break;
      case ArgKind::OutVector: {
        auto* v = reinterpret_cast<GameVector*>(slot);
        v->x = out.vector.x;
        v->y = out.vector.y;
        v->z = out.vector.z;
        break;
      }
      default:
        *reinterpret_cast<std::int32_t*>(slot) = out.integer;
        break;
    }
  }
}

std::string DescribeAnswer(const NativeAnswer& answer) {
  std::string what;
  if (answer.hasResult) what = "its result";
  if (!answer.outs.empty()) what += what.empty() ? "its out-variables" : " and out-variables";
  return ReadableNativeName(*answer.native) + " answers from the scenario (" + what + ", frames " +
         std::to_string(answer.from) + " to " + std::to_string(answer.to) +
         "); the world's own answer is replaced";
}

}  // namespace sim
