// A scenario's answers: for a span of frames, what a named native returns and
// writes to its out-variables in place of the world model's values. The
// native's handler still runs (the world still does what the call does);
// only what the plug-in reads back is replaced. Read with the scenario, kept
// by the simulation, which applies them after the handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/base/call.h"
#include "sim/base/native_table.h"
#include "sim/base/scenario_reader.h"

namespace sim {

// One value for an out-variable; `keep` leaves it as the handler wrote it.
struct AnsweredOut {
  std::uint32_t arg = 0;  // the argument slot that holds the out-variable's address
  ArgKind kind = ArgKind::OutInt;
  bool keep = false;
  std::int32_t integer = 0;  // OutInt, InOutInt
  Vec3 vector;               // OutFloat (in x), OutVector
};

struct NativeAnswer {
  const NativeSignature* native = nullptr;
  std::int64_t from = 0;  // first and last frame, both answered
  std::int64_t to = 0;
  bool hasResult = false;
  // The result's slots for every kind but a text, which is `text` (the slot
  // points at it when the call is answered, so that the answer may move).
  std::uint64_t result[3] = {0, 0, 0};
  bool nullText = false;
  std::string text;
  std::vector<AnsweredOut> outs;
  bool noted = false;  // the timeline has said that this span is answering
};

class CatalogueNatives;

// Reads the scenario's "answers" array, checking each entry against the
// game's natives table; throws ScenarioError naming the file, line and field.
// An entry whose native the game's table lacks is put in `elsewhere`, to be
// read once the user's catalogue is known (ResolveCatalogueAnswers).
std::vector<NativeAnswer> ParseAnswers(const ScenarioNode& list,
                                       std::vector<ScenarioNode>& elsewhere);

// Reads the entries ParseAnswers put aside against the natives of the user's
// catalogue (null: none was given) and adds them to `answers`, then empties
// `elsewhere`; a native neither lists, or a mistake, throws ScenarioError.
void ResolveCatalogueAnswers(std::vector<NativeAnswer>& answers,
                             std::vector<ScenarioNode>& elsewhere,
                             const CatalogueNatives* catalogue);

// The answer for a call of this native in this frame, or null.
NativeAnswer* FindAnswer(std::vector<NativeAnswer>& answers, const NativeSignature& native,
                         std::int64_t frame);

// Writes the answer over what the handler left: the result slots and the
// out-variables the call's first `argCount` argument slots point at.
void ApplyAnswer(const NativeAnswer& answer, const std::uint64_t* args, std::size_t argCount,
                 std::uint64_t* result);

// How an answer reads on the timeline when its span first answers a call:
// "GET_ENTITY_HEALTH answers from the scenario (its result, frames 10 to
// 20); the world's own answer is replaced".
std::string DescribeAnswer(const NativeAnswer& answer);

}  // namespace sim
