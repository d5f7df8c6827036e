// The Windows half of the script fibre: a Windows fiber, as the real host runs
// the script on. The thread that resumes a fibre becomes a fiber itself the
// first time (and stays one).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// winbase.h defines Yield() away (a 16-bit Windows relic); sim::Fibre has one.
#undef Yield

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/platform/fibre.h"

namespace sim {

struct Fibre::Impl {
  LPVOID fiber = nullptr;   // this fibre's own Windows fiber
  LPVOID caller = nullptr;  // the fiber that resumed it last
  // The fiber's stack as it saw it at its start: its top, the lowest byte
  // then committed, and the bottom of its reservation. Null until it runs.
  const unsigned char* stackBase = nullptr;
  const unsigned char* filledFrom = nullptr;
  const unsigned char* reservedFrom = nullptr;

  static void CALLBACK Entry(LPVOID fibre);
};

namespace {

// What an unused byte of the fiber's stack holds.
constexpr unsigned char kStackPattern = 0xA5;
// Left unfilled below the frame that fills, for the filling itself.
constexpr std::size_t kFillMargin = 1024;

// The system places and commits a fiber's stack, so it is only reached from
// the fiber itself, through the thread block that the switch fills in: the
// committed part below the running frame is filled with the pattern. Only
// this loop runs meanwhile, with no call below this frame.
__attribute__((noinline)) void FillStackBelowHere(Fibre::Impl& impl) {
  // GCC takes the segment-relative read inside NtCurrentTeb for an access to
  // an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
  const auto* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
#pragma GCC diagnostic pop
  auto* limit = static_cast<unsigned char*>(tib->StackLimit);
  impl.stackBase = static_cast<const unsigned char*>(tib->StackBase);
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(limit, &info, sizeof info) != 0) {
    impl.reservedFrom = static_cast<const unsigned char*>(info.AllocationBase);
  }
  auto* here = static_cast<unsigned char*>(__builtin_frame_address(0));
  volatile unsigned char* end = here - kFillMargin;
  for (volatile unsigned char* p = limit; p < end; ++p) *p = kStackPattern;
  impl.filledFrom = limit;
}

// Whether the page holding `address` is committed and plain (not a guard page).
bool CommittedPage(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(address, &info, sizeof info) == 0) return false;
  return info.State == MEM_COMMIT && (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

thread_local Fibre* currentFibre = nullptr;
thread_local Fibre::Impl* currentImpl = nullptr;

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
  FillStackBelowHere(*self->impl_);
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

StackUse Fibre::PeakStackUse() const {
  const Impl& impl = *impl_;
  if (impl.filledFrom == nullptr || impl.reservedFrom == nullptr) return StackUse{};
  // Pages the stack grew into after the fill hold no pattern: the deepest of
  // them is the deepest reached.
  const unsigned char* lowest = impl.filledFrom;
  while (lowest - 4096 >= impl.reservedFrom && CommittedPage(lowest - 4096)) lowest -= 4096;
  if (lowest == impl.filledFrom) {
    while (lowest < impl.stackBase && *lowest == kStackPattern) ++lowest;
  }
  return StackUse{true, static_cast<std::size_t>(impl.stackBase - lowest),
                  static_cast<std::size_t>(impl.stackBase - impl.reservedFrom)};
}

std::span<const unsigned char> Fibre::StackInUse() const { return {}; }

}  // namespace sim
