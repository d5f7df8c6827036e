// Where abandoned fibres go, on either platform: a script stopped mid-run keeps
// its stack, so that what it had allocated stays reachable rather than being
// reported as leaked.
#include <memory>
#include <mutex>
#include <vector>

#include "sim/platform/fibre.h"

namespace sim {
namespace {

std::mutex& GraveyardMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::unique_ptr<Fibre>>& Graveyard() {
  static auto* graveyard = new std::vector<std::unique_ptr<Fibre>>();
  return *graveyard;
}

}  // namespace

void Abandon(std::unique_ptr<Fibre> fibre) {
  if (!fibre) return;
  std::lock_guard<std::mutex> lock(GraveyardMutex());
  Graveyard().push_back(std::move(fibre));
}

std::vector<std::unique_ptr<Fibre>> TakeAbandonedFibres() {
  std::vector<std::unique_ptr<Fibre>> taken;
  std::lock_guard<std::mutex> lock(GraveyardMutex());
  taken.swap(Graveyard());
  return taken;
}

}  // namespace sim
