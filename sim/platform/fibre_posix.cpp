// The Linux half of the script fibre: ucontext, with the stack switches
// announced to AddressSanitizer so that it follows the script's stack.
#include "sim/platform/fibre.h"

#include <ucontext.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define REBOUND_SIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REBOUND_SIM_ASAN 1
#endif
#endif

#if defined(REBOUND_SIM_ASAN)
#include <sanitizer/common_interface_defs.h>
#endif

namespace sim {

struct Fibre::Impl {
  ucontext_t fibreContext{};
  ucontext_t callerContext{};
  std::vector<unsigned char> stack;
  // Bounds of the caller's stack, for the sanitizer's stack switch notices.
  const void* callerStackBottom = nullptr;
  std::size_t callerStackSize = 0;
  void* fibreFakeStack = nullptr;

  // makecontext passes only int arguments: the fibre's address comes in halves.
  static void Trampoline(unsigned int lo, unsigned int hi);
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

}  // namespace

Fibre::Fibre(std::function<void()> body, std::size_t stackSize)
    : impl_(std::make_unique<Impl>()), body_(std::move(body)) {
  impl_->stack.resize(stackSize);
  getcontext(&impl_->fibreContext);
  impl_->fibreContext.uc_stack.ss_sp = impl_->stack.data();
  impl_->fibreContext.uc_stack.ss_size = impl_->stack.size();
  impl_->fibreContext.uc_link = &impl_->callerContext;
  const auto self = reinterpret_cast<std::uintptr_t>(this);
  makecontext(&impl_->fibreContext, reinterpret_cast<void (*)()>(&Impl::Trampoline), 2,
              static_cast<unsigned int>(self & 0xFFFFFFFFU), static_cast<unsigned int>(self >> 32));
}

Fibre::~Fibre() = default;

void Fibre::Impl::Trampoline(unsigned int lo, unsigned int hi) {
  auto* self = reinterpret_cast<Fibre*>(static_cast<std::uintptr_t>(lo) |
                                        (static_cast<std::uintptr_t>(hi) << 32));
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_finish_switch_fiber(nullptr, &self->impl_->callerStackBottom,
                                  &self->impl_->callerStackSize);
#endif
  self->body_();
  self->finished_ = true;
  currentFibre = nullptr;
  currentImpl = nullptr;
#if defined(REBOUND_SIM_ASAN)
  // Leaving for good: the fibre's fake stack can go.
  __sanitizer_start_switch_fiber(nullptr, self->impl_->callerStackBottom,
                                 self->impl_->callerStackSize);
#endif
  // uc_link returns to the caller.
}

void Fibre::Resume() {
  if (finished_) return;
  started_ = true;
  Fibre* const previous = currentFibre;
  Impl* const previousImpl = currentImpl;
  currentFibre = this;
  currentImpl = impl_.get();
#if defined(REBOUND_SIM_ASAN)
  void* callerFakeStack = nullptr;
  __sanitizer_start_switch_fiber(&callerFakeStack, impl_->stack.data(), impl_->stack.size());
#endif
  swapcontext(&impl_->callerContext, &impl_->fibreContext);
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_finish_switch_fiber(callerFakeStack, nullptr, nullptr);
#endif
  currentFibre = previous;
  currentImpl = previousImpl;
}

void Fibre::Yield() {
  Impl* const impl = currentImpl;
  if (impl == nullptr) return;
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_start_switch_fiber(&impl->fibreFakeStack, impl->callerStackBottom,
                                 impl->callerStackSize);
#endif
  swapcontext(&impl->fibreContext, &impl->callerContext);
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_finish_switch_fiber(impl->fibreFakeStack, &impl->callerStackBottom,
                                  &impl->callerStackSize);
#endif
}

bool Fibre::OnFibre() { return currentFibre != nullptr; }

void Abandon(std::unique_ptr<Fibre> fibre) {
  if (!fibre) return;
  std::lock_guard<std::mutex> lock(GraveyardMutex());
  Graveyard().push_back(std::move(fibre));
}

}  // namespace sim
