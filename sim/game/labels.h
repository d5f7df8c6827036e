// The game's text labels in the current language: what
// GET_FILENAME_FOR_AUDIO_CONVERSATION answers and what a label component of a
// scaleform string shows. A label the scenario leaves out does not exist, and
// the game then answers a null text. The current language is the one
// GET_CURRENT_LANGUAGE answers (the drawing model's). The tables
// (world.labels, world.labelsByLanguage) are in the scenario guide,
// docs/scenarios.md.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sim/game/handlers.h"

namespace sim {

using LabelTable = std::map<std::string, std::string>;

// What the game ships with for the labels the plug-in reads: the table of
// every language unless a scenario gives its own.
const LabelTable& DefaultLabels();

struct LabelsModel : QuietArea {
  LabelTable texts;                               // for every language without its own table
  std::map<std::int32_t, LabelTable> byLanguage;  // by the game's language code

  static constexpr const char* kName = "labels";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  void Configure(const ScenarioNode& root);
  // The label's text in the given language, or nullptr when the game has no
  // such label. The text stays put for the whole run: the tables are not
  // changed after the scenario is read.
  const std::string* Find(std::int32_t language, const std::string& key) const;
};

}  // namespace sim
