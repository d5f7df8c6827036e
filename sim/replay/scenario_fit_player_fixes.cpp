// The fixes scenario-from tries for what the plug-in reads of the player (its
// ped and id, health, death, position), of the pads and of the screen (fades,
// language, busy spinner, HUD colours, the null-or-empty text test, labels):
// a setting while nothing has relied on it yet, else an event at the frame's
// start.
#include <string>

#include "sim/replay/scenario_fitter.h"

namespace sim::fit {

std::vector<Fix> Fitter::FixPedHandle(std::int64_t frame, const TraceEntry& line) {
  return FixIdentity(frame, line, true);
}

std::vector<Fix> Fitter::FixPlayerId(std::int64_t frame, const TraceEntry& line) {
  return FixIdentity(frame, line, false);
}

std::vector<Fix> Fitter::FixIdentity(std::int64_t frame, const TraceEntry& line, bool ped) {
  const auto given = static_cast<std::int32_t>(line.result->integer);
  const char* key = ped ? "ped" : "player";
  if (lastSwitch_ && !seen_.SeenSince(key, lastSwitch_->frame)) {
    // Nothing read it since the last switch: that switch gave it.
    const Switch s = *lastSwitch_;
    Fix fix;
    fix.patch = [ped, given, s](World& w) {
      std::int32_t& value = ped ? w.player.pedHandle : w.player.playerId;
      std::set<std::int32_t>& former = ped ? w.player.formerPedHandles : w.player.formerPlayerIds;
      const std::int32_t before = ped ? s.pedBefore : s.playerBefore;
      former.erase(value);
      if (before != given) former.insert(before);
      former.erase(given);
      value = given;
    };
    fix.keep = [this, ped, given, s] {
      fixEvents_[s.frame][s.index]["switchCharacter"][ped ? "pedHandle" : "playerId"] = given;
    };
    return {fix};
  }
  if (!seen_.Has(key)) {
    Fix fix;
    fix.patch = [ped, given](World& w) { (ped ? w.player.pedHandle : w.player.playerId) = given; };
    fix.keep = [this, ped, given] { (ped ? settings_.pedHandle : settings_.playerId) = given; };
    return {fix};
  }
  const PlayerModel& player = state_.world.player;
  Json event = At(frame);
  event["switchCharacter"] = Json{{"pedHandle", ped ? given : player.pedHandle},
                                  {"playerId", ped ? player.playerId : given}};
  return {Event(event)};
}

bool Fitter::AsksAboutPlayer(const TraceEntry& line) const {
  return !line.args.empty() && line.args[0].integer == state_.world.player.pedHandle;
}

std::vector<Fix> Fitter::FixMaxHealth(std::int64_t /*frame*/, const TraceEntry& line) {
  if (!AsksAboutPlayer(line) || seen_.Has("maxHealth")) return {};
  const auto given = static_cast<std::int32_t>(line.result->integer);
  if (given < 0) return {};
  Fix fix;
  fix.patch = [given](World& w) { w.player.maxHealth = given; };
  fix.keep = [this, given] { settings_.maxHealth = given; };
  return {fix};
}

std::vector<Fix> Fitter::FixPosition(std::int64_t frame, const TraceEntry& line) {
  if (!AsksAboutPlayer(line)) return {};
  const Vec3 where = VectorOf(*line.result);
  if (!Finite(where)) return {};
  if (!seen_.Has("position")) {
    Fix fix;
    fix.patch = [where](World& w) { w.player.position = where; };
    fix.keep = [this, where] { settings_.position = where; };
    return {fix};
  }
  Json event = At(frame);
  event["position"] = Point(where);
  return {Event(event)};
}

std::vector<Fix> Fitter::FixHealth(std::int64_t frame, const TraceEntry& line) {
  if (!AsksAboutPlayer(line)) return {};
  const auto given = static_cast<std::int32_t>(line.result->integer);
  if (!seen_.Has("health")) {
    Fix fix;
    fix.patch = [given](World& w) {
      w.player.health = given;
      w.player.dead = given < 1;
      // A dead player is work for the game's restart sequence each frame.
      w.NoteWork();
    };
    fix.keep = [this, given] { settings_.health = given; };
    return {fix};
  }
  Json health = At(frame);
  health["health"] = given;
  const PlayerModel& player = state_.world.player;
  if (player.dead && given >= 1) {
    // A dead player comes back only through a heal; the health then reads
    // the most it can be.
    Json heal = At(frame);
    heal["heal"] = true;
    Fix fix = Event(heal);
    if (given != player.maxHealth) fix.events.push_back(health);
    return {fix};
  }
  return {Event(health)};
}

std::vector<Fix> Fitter::FixDead(std::int64_t frame, const TraceEntry& line) {
  return FixDeath(frame, line, false);
}

std::vector<Fix> Fitter::FixInjured(std::int64_t frame, const TraceEntry& line) {
  return FixDeath(frame, line, true);
}

std::vector<Fix> Fitter::FixDeath(std::int64_t frame, const TraceEntry& line, bool injured) {
  if (!AsksAboutPlayer(line)) return {};
  Json event = At(frame);
  if (line.result->IsTrue()) {
    std::vector<Fix> fixes;
    if (injured) {
      Json injure = At(frame);
      injure["injure"] = true;
      fixes.push_back(Event(injure));
    }
    event["health"] = 0;
    fixes.push_back(Event(event));
    return fixes;
  }
  event["heal"] = true;
  return {Event(event)};
}

std::vector<Fix> Fitter::FixTap(std::int64_t frame, const TraceEntry& line) {
  if (!line.result->IsTrue()) return {};
  const auto pad = line.args[0].integer;
  const auto control = line.args[1].integer;
  Json tap = At(frame);
  tap["tap"] = control;
  if (pad != 0) tap["pad"] = pad;
  // A tap in the frame after another is the same press held on, unless it
  // went up and down again in between.
  Json again = Json{{"from", frame}, {"to", frame}, {"tapEveryFrames", 1}, {"control", control}};
  if (pad != 0) again["pad"] = pad;
  return {Event(tap), Event(again)};
}

std::vector<Fix> Fitter::FixFadingOut(std::int64_t frame, const TraceEntry& line) {
  return FixFade(frame, line, true);
}

std::vector<Fix> Fitter::FixFadedOut(std::int64_t frame, const TraceEntry& line) {
  return FixFade(frame, line, false);
}

std::vector<Fix> Fitter::FixFade(std::int64_t frame, const TraceEntry& line, bool fadingOut) {
  // A fade the game started by itself: its length shows only in when it
  // ends, so the game's own default stands for it until then.
  constexpr std::int32_t kGameFadeMs = 1000;
  const auto fade = [frame](const char* kind, std::int32_t ms) {
    Json event = At(frame);
    event[kind] = ms;
    return event;
  };
  if (line.result->IsTrue()) {
    if (!fadingOut) return {Event(fade("fadeOut", 0))};
    if (state_.world.screen.fade == FadeState::FadedOut) {
      Fix fix = Event(fade("fadeIn", 0));
      fix.events.push_back(fade("fadeOut", kGameFadeMs));
      return {fix};
    }
    return {Event(fade("fadeOut", kGameFadeMs))};
  }
  if (fadingOut) return {Event(fade("fadeOut", 0)), Event(fade("fadeIn", 0))};
  return {Event(fade("fadeIn", 0))};
}

std::vector<Fix> Fitter::FixLanguage(std::int64_t frame, const TraceEntry& line) {
  const auto given = static_cast<std::int32_t>(line.result->integer);
  if (given < 0) return {};
  if (!seen_.Has("language")) {
    Fix fix;
    fix.patch = [given](World& w) { w.drawing.language = given; };
    fix.keep = [this, given] { settings_.language = given; };
    return {fix};
  }
  Json event = At(frame);
  event["language"] = given;
  return {Event(event)};
}

std::vector<Fix> Fitter::FixSpinner(std::int64_t frame, const TraceEntry& line) {
  const bool given = line.result->IsTrue();
  if (!seen_.Has("spinner")) {
    Fix fix;
    fix.patch = [given](World& w) { w.drawing.busySpinner = given; };
    fix.keep = [this, given] { settings_.busySpinner = given; };
    return {fix};
  }
  Json event = At(frame);
  event["busySpinner"] = given;
  return {Event(event)};
}

std::vector<Fix> Fitter::FixHudColour(std::int64_t /*frame*/, const TraceEntry& line) {
  const auto index = static_cast<std::int32_t>(line.args[0].integer);
  if (index < 0 || seen_.Has("hud:" + std::to_string(index)) || line.outs.size() != 4) return {};
  Colour colour{static_cast<std::int32_t>(line.outs[0].integer),
                static_cast<std::int32_t>(line.outs[1].integer),
                static_cast<std::int32_t>(line.outs[2].integer),
                static_cast<std::int32_t>(line.outs[3].integer)};
  for (std::int32_t c : {colour.red, colour.green, colour.blue, colour.alpha}) {
    if (c < 0 || c > 255) return {};
  }
  Fix fix;
  fix.patch = [index, colour](World& w) { w.drawing.hudColours[index] = colour; };
  fix.keep = [this, index, colour] { settings_.hudColours[index] = colour; };
  return {fix};
}

// The game's null-or-empty text test.
std::vector<Fix> Fitter::FixNullText(std::int64_t /*frame*/, const TraceEntry& line) {
  if (seen_.Has("nullText")) return {};
  const auto given = static_cast<std::int32_t>(line.result->integer);
  Fix fix;
  fix.patch = [given](World& w) { w.state.nullOrEmptyTextAnswer = given; };
  fix.keep = [this, given] { settings_.nullOrEmptyTextAnswer = given; };
  return {fix};
}

std::vector<Fix> Fitter::FixLabel(std::int64_t /*frame*/, const TraceEntry& line) {
  const std::string key = line.args[0].text;
  const World& world = state_.world;
  const std::int32_t language = world.drawing.language;
  const std::optional<std::string> text = line.result->kind == TraceValue::Kind::Text
                                              ? std::optional<std::string>(line.result->text)
                                              : std::nullopt;
  const auto set = [key, text](LabelTable& table) {
    if (text) {
      table[key] = *text;
    } else {
      table.erase(key);
    }
  };
  const bool own = world.labels.byLanguage.count(language) != 0;
  Fix fix;
  if (!own && !seen_.Has("label:*:" + key)) {
    // The table for every language, which replaces the game's whole.
    fix.patch = [set](World& w) { set(w.labels.texts); };
    fix.keep = [this, set] {
      if (!settings_.labels) settings_.labels = defaultLabels_;
      set(*settings_.labels);
    };
    return {fix};
  }
  if (own && seen_.Has("label:" + std::to_string(language) + ":" + key)) return {};
  // A table of this language's own, starting from the one it read so far.
  fix.patch = [set, language, own](World& w) {
    if (!own) w.labels.byLanguage[language] = w.labels.texts;
    set(w.labels.byLanguage[language]);
  };
  fix.keep = [this, set, language, own] {
    if (!own) settings_.labelsByLanguage[language] = settings_.labels.value_or(defaultLabels_);
    set(settings_.labelsByLanguage[language]);
  };
  return {fix};
}

}  // namespace sim::fit
