// The Windows half of the script fibre: a Windows fiber, as the real host runs
// the script on. The thread that resumes a fibre becomes a fiber itself the
// first time (and stays one).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// winbase.h defines Yield() away (a 16-bit Windows relic); sim::Fibre has one.
#undef Yield

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "sim/platform/fibre.h"

namespace sim {

struct Fibre::Impl {
  LPVOID fiber = nullptr;   // this fibre's own Windows fiber
  LPVOID caller = nullptr;  // the fiber that resumed it last

  static void CALLBACK Entry(LPVOID fibre);
};

namespace {

thread_local Fibre* currentFibre = nullptr;
thread_local Fibre::Impl* currentImpl = nullptr;

std::mutex& GraveyardMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::unique_ptr<Fibre>>& Graveyard() {
  static auto* graveyard = new std::vector<std::unique_ptr<Fibre>>();
  return *graveyard;
}

[[noreturn]] void FiberFailure(const char* what) {
  std::fprintf(stderr, "rebound-sim: %s (Windows error %lu)\n", what, GetLastError());
  std::abort();
}

// This thread as a fiber, converted at the first Resume on it. Kept here rather
// than asked of GetCurrentFiber, which resumes from inside a fibre would get wrong.
thread_local LPVOID threadFiber = nullptr;

LPVOID ThisThreadAsFiber() {
  if (threadFiber == nullptr) {
    threadFiber = ConvertThreadToFiber(nullptr);
    if (threadFiber == nullptr) FiberFailure("cannot turn the thread into a fiber");
  }
  return threadFiber;
}

}  // namespace

Fibre::Fibre(std::function<void()> body, std::size_t stackSize)
    : impl_(std::make_unique<Impl>()), body_(std::move(body)) {
  impl_->fiber = CreateFiber(stackSize, &Impl::Entry, this);
  if (impl_->fiber == nullptr) FiberFailure("cannot create the script fibre");
}

Fibre::~Fibre() {
  // Never called on the fibre itself: deleting the running fiber ends the thread.
  if (impl_->fiber != nullptr) DeleteFiber(impl_->fiber);
}

void CALLBACK Fibre::Impl::Entry(LPVOID fibre) {
  auto* self = static_cast<Fibre*>(fibre);
  self->body_();
  self->finished_ = true;
  currentFibre = nullptr;
  currentImpl = nullptr;
  // A fiber's function must not return (that would end the thread): go back
  // to the caller for good.
  SwitchToFiber(self->impl_->caller);
}

void Fibre::Resume() {
  if (finished_) return;
  started_ = true;
  Fibre* const previous = currentFibre;
  Impl* const previousImpl = currentImpl;
  currentFibre = this;
  currentImpl = impl_.get();
  impl_->caller = previousImpl != nullptr ? previousImpl->fiber : ThisThreadAsFiber();
  SwitchToFiber(impl_->fiber);
  currentFibre = previous;
  currentImpl = previousImpl;
}

void Fibre::Yield() {
  Impl* const impl = currentImpl;
  if (impl == nullptr) return;
  SwitchToFiber(impl->caller);
}

bool Fibre::OnFibre() { return currentFibre != nullptr; }

// CreateFiber places the stack where the system chooses and commits it as it
// grows; nothing documented tells a suspended fiber's stack bounds, so its use
// is not measured.
StackUse Fibre::PeakStackUse() const { return StackUse{false, 0, 0}; }

void Abandon(std::unique_ptr<Fibre> fibre) {
  if (!fibre) return;
  std::lock_guard<std::mutex> lock(GraveyardMutex());
  Graveyard().push_back(std::move(fibre));
}

}  // namespace sim
