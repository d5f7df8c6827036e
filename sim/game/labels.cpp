#include "sim/game/labels.h"

#include <optional>

#include <nlohmann/json.hpp>

#include "sim/game/world.h"

namespace sim {

const LabelTable& DefaultLabels() {
  static const LabelTable labels = {
      {"KS_RESPAWN_B", "Respawn"},
      {"RESPAWN_W", "WASTED"},
  };
  return labels;
}

namespace {

// A table of labels: each value is the text, or null for a label the game
// lacks (the same as leaving it out).
LabelTable ReadTable(const ScenarioNode& node) {
  node.ExpectObject();
  LabelTable table;
  for (const std::string& key : node.Keys()) {
    const ScenarioNode value = node.Child(key);
    if (value.Json().is_null()) continue;
    if (!value.Json().is_string()) {
      value.Fail("expected the label's text (a string) or null, got " + JsonTypeName(value.Json()));
    }
    table[key] = value.AsString();
  }
  return table;
}

}  // namespace

void LabelsModel::Configure(const ScenarioNode& root) {
  texts = DefaultLabels();
  auto world = root.Optional("world");
  if (!world) return;
  world->ExpectObject();
  // A table replaces the built-in one whole, so that leaving a label out of
  // it means the game lacks that label.
  if (auto labels = world->Optional("labels")) texts = ReadTable(*labels);
  if (auto tables = world->Optional("labelsByLanguage")) {
    tables->ExpectObject();
    for (const std::string& key : tables->Keys()) {
      const ScenarioNode table = tables->Child(key);
      const std::optional<std::int32_t> code = IndexKey(key);
      if (!code) table.Fail("expected a language code (a whole number from 0) as the key");
      byLanguage[*code] = ReadTable(table);
    }
  }
}

const std::string* LabelsModel::Find(std::int32_t language, const std::string& key) const {
  const auto own = byLanguage.find(language);
  const LabelTable& table = own != byLanguage.end() ? own->second : texts;
  const auto it = table.find(key);
  return it == table.end() ? nullptr : &it->second;
}

namespace {

void GetFilenameForAudioConversation(World& world, CallFrame& call) {
  const std::string key = call.Text(0);
  const std::string* text = world.labels.Find(world.drawing.language, key);
  if (text == nullptr) {
    world.Note("labels", "no label " + key + " in language " +
                             std::to_string(world.drawing.language) + ": the game answers null");
    call.ReturnText(nullptr);
    return;
  }
  call.ReturnText(text->c_str());
}

}  // namespace

void LabelsModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("GET_FILENAME_FOR_AUDIO_CONVERSATION", GetFilenameForAudioConversation);
}

}  // namespace sim
