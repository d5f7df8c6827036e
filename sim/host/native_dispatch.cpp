#include "sim/host/native_dispatch.h"

#include <map>
#include <string_view>

#include "sim/base/number_format.h"
#include "sim/game/world.h"
#include "sim/observe/flow_observer.h"
#include "sim/observe/trace.h"

namespace sim {

void AnswerNeutrally(World& /*world*/, CallFrame& /*call*/) {}

SlotRange RangeOf(ArgKind kind) {
  constexpr std::uint64_t kAll = ~std::uint64_t{0};
  switch (kind) {
    case ArgKind::Int:
    case ArgKind::Float:
      return {0, 0xFFFFFFFFULL};  // the low half only
    case ArgKind::Bool:
      return {0, 1};
    case ArgKind::Text:
    case ArgKind::OutInt:
    case ArgKind::OutFloat:
    case ArgKind::OutVector:
    case ArgKind::InOutInt:
      return {1, kAll - 1};  // any address but null
    case ArgKind::TextOrNull:
      return {0, kAll};
  }
  return {0, kAll};
}

namespace {

using HandlerMap = std::map<const NativeSignature*, NativeHandler>;

// Joins the registrations to the table by name (or the name a hash-only
// native is modelled as). Every mismatch is collected, so that one start-up
// names them all.
HandlerMap JoinHandlers(const std::vector<NativeSignature>& table,
                        const HandlerRegistry& registry) {
  std::map<std::string_view, const NativeSignature*> byName;
  for (const NativeSignature& signature : table) {
    byName.emplace(signature.name, &signature);
    if (!signature.modelledAs.empty()) byName.emplace(signature.modelledAs, &signature);
  }
  std::string problems;
  const auto problem = [&problems](const std::string& text) {
    problems += problems.empty() ? "" : "; ";
    problems += text;
  };
  HandlerMap handlers;
  for (const HandlerRegistration& r : registry.Entries()) {
    const auto found = byName.find(r.native);
    if (found == byName.end()) {
      problem("a handler is registered for " + std::string(r.native) +
              ", which is not in the natives table");
    } else if (r.handler == nullptr) {
      problem("the handler registered for " + std::string(r.native) + " is null");
    } else if (found->second->answeredByDefault) {
      problem(std::string(r.native) +
              " has a handler but the natives table says the neutral default answers it");
    } else if (!handlers.emplace(found->second, r.handler).second) {
      problem(std::string(r.native) + " has more than one handler");
    }
  }
  for (const NativeSignature& signature : table) {
    if (!signature.answeredByDefault && handlers.count(&signature) == 0) {
      problem(signature.name +
              " has no handler and is not marked as answered by the neutral default");
    }
  }
  if (!problems.empty()) {
    throw HandlerTableError("the simulated game's handlers do not match its natives table: " +
                            problems);
  }
  return handlers;
}

}  // namespace

NativeDispatch::NativeDispatch(const std::vector<NativeSignature>& table,
                               const HandlerRegistry& registry) {
  const HandlerMap handlers = JoinHandlers(table, registry);

  // A power of two at least twice the number of natives.
  std::size_t capacity = 8;
  shift_ = 61;
  while (capacity < 2 * table.size()) {
    capacity *= 2;
    --shift_;
  }
  slots_.assign(capacity, NativeEntry{});
  mask_ = capacity - 1;

  std::size_t rangeCount = 0;
  for (const NativeSignature& signature : table) rangeCount += signature.args.size();
  ranges_.reserve(rangeCount);  // entries point into it: it must never move

  for (const NativeSignature& signature : table) {
    const auto handler = handlers.find(&signature);
    Insert(signature, handler != handlers.end() ? handler->second : &AnswerNeutrally);
  }
}

void NativeDispatch::Insert(const NativeSignature& signature, NativeHandler handler) {
  std::size_t i = Home(signature.hash);
  while (slots_[i].signature != nullptr) {
    if (slots_[i].hash == signature.hash) {
      throw HandlerTableError("the natives table lists " + HexHash(signature.hash) + " twice: as " +
                              slots_[i].signature->name + " and as " + signature.name);
    }
    i = (i + 1) & mask_;
  }
  NativeEntry& e = slots_[i];
  e.hash = signature.hash;
  e.signature = &signature;
  e.handler = handler;
  e.argCount = static_cast<std::uint32_t>(signature.args.size());
  e.followedByFlow = FlowObserver::Follows(signature.name);
  e.ranges = ranges_.data() + ranges_.size();
  for (ArgKind kind : signature.args) ranges_.push_back(RangeOf(kind));
  ++size_;
}

const NativeDispatch& WorldDispatch() {
  static const NativeDispatch dispatch = [] {
    HandlerRegistry registry;
    World::RegisterHandlers(registry);
    return NativeDispatch(NativeTable(), registry);
  }();
  return dispatch;
}

}  // namespace sim
