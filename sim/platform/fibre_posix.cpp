// The Linux half of the script fibre: Boost.Context's fcontext, which switches
// stacks in a few instructions and, unlike ucontext, makes no system call to
// save and restore the signal mask on each switch. The stack switches are
// announced to AddressSanitizer so that it follows the script's stack, and to
// ThreadSanitizer so that it keeps the script's calls apart from the caller's
// and orders each switch after what came before it.
#include <boost/context/detail/fcontext.hpp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/platform/fibre.h"

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

#if defined(__SANITIZE_THREAD__)
#define REBOUND_SIM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define REBOUND_SIM_TSAN 1
#endif
#endif

#if defined(REBOUND_SIM_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace sim {

namespace context = boost::context::detail;

struct Fibre::Impl {
  std::unique_ptr<unsigned char[]> stack;
  std::size_t stackSize = 0;
  context::fcontext_t fibre = nullptr;   // where Resume continues the fibre
  context::fcontext_t caller = nullptr;  // where Yield returns to
  // Bounds of the caller's stack, for the sanitizer's stack switch notices.
  const void* callerStackBottom = nullptr;
  std::size_t callerStackSize = 0;
  void* fibreFakeStack = nullptr;
#if defined(REBOUND_SIM_TSAN)
  // ThreadSanitizer's own state of the fibre, and of whoever resumed it last.
  void* tsanFibre = nullptr;
  void* tsanCaller = nullptr;
#endif

  // The fibre's first frame: it runs the body and leaves for good.
  [[noreturn]] static void Entry(context::transfer_t from);
};

namespace {

// What an unused byte of a fibre's stack holds.
constexpr unsigned char kStackPattern = 0xA5;

// The offset of the lowest byte that no longer holds the pattern (the stack
// grows down from the end), or `size` when none does. Reads the stack of a
// suspended fibre, where AddressSanitizer keeps the live frames' red zones
// poisoned, so it is not instrumented; nor for ThreadSanitizer, which would
// check each byte of the megabyte that a script leaves untouched. Eight
// bytes a step (the stack is 16-byte aligned), then byte by byte in the first
// word that differs. The tests that restart and unload the plug-in hundreds
// of times took 21 CPU seconds in the tsan tree with a checked byte a step,
// 15 so; 9.8 and 7.5 in the asan tree.
#if defined(REBOUND_SIM_ASAN)
__attribute__((no_sanitize("address")))
#elif defined(REBOUND_SIM_TSAN)
__attribute__((no_sanitize("thread")))
#endif
std::size_t
LowestTouched(const unsigned char* stack, std::size_t size) {
  using Word [[gnu::may_alias]] = std::uint64_t;
  constexpr Word kPatternWord = 0x0101010101010101ULL * kStackPattern;
  std::size_t i = 0;
  while (i + sizeof(Word) <= size && *reinterpret_cast<const Word*>(stack + i) == kPatternWord) {
    i += sizeof(Word);
  }
  while (i < size && stack[i] == kStackPattern) ++i;
  return i;
}

// The fibre this thread runs now, or null; one thread-local, as the switch
// reads and writes it twice.
thread_local Fibre::Impl* currentImpl = nullptr;

}  // namespace

Fibre::Fibre(std::function<void()> body, std::size_t stackSize)
    : impl_(std::make_unique<Impl>()), body_(std::move(body)) {
  // fcontext wants the top of the stack, 16-byte aligned.
  impl_->stackSize = stackSize & ~std::size_t{15};
  impl_->stack = std::make_unique_for_overwrite<unsigned char[]>(impl_->stackSize);
  std::memset(impl_->stack.get(), kStackPattern, impl_->stackSize);
  impl_->fibre =
      context::make_fcontext(impl_->stack.get() + impl_->stackSize, impl_->stackSize, &Impl::Entry);
#if defined(REBOUND_SIM_TSAN)
  impl_->tsanFibre = __tsan_create_fiber(0);
#endif
}

Fibre::~Fibre() {
#if defined(REBOUND_SIM_TSAN)
  // Never the running fibre: a fibre is let go from its caller's side.
  if (impl_ && impl_->tsanFibre != nullptr) __tsan_destroy_fiber(impl_->tsanFibre);
#endif
}

void Fibre::Impl::Entry(context::transfer_t from) {
  auto* self = static_cast<Fibre*>(from.data);
  Impl* const impl = self->impl_.get();
  impl->caller = from.fctx;
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_finish_switch_fiber(nullptr, &impl->callerStackBottom, &impl->callerStackSize);
#endif
  self->body_();
  self->finished_ = true;
  currentImpl = nullptr;
#if defined(REBOUND_SIM_ASAN)
  // Leaving for good: the fibre's fake stack can go.
  __sanitizer_start_switch_fiber(nullptr, impl->callerStackBottom, impl->callerStackSize);
#endif
#if defined(REBOUND_SIM_TSAN)
  __tsan_switch_to_fiber(impl->tsanCaller, 0);
#endif
  context::jump_fcontext(impl->caller, nullptr);
  std::abort();  // a finished fibre is never resumed
}

void Fibre::Resume() {
  if (finished_) return;
  started_ = true;
  Impl* const previousImpl = currentImpl;
  currentImpl = impl_.get();
#if defined(REBOUND_SIM_ASAN)
  void* callerFakeStack = nullptr;
  __sanitizer_start_switch_fiber(&callerFakeStack, impl_->stack.get(), impl_->stackSize);
#endif
#if defined(REBOUND_SIM_TSAN)
  impl_->tsanCaller = __tsan_get_current_fiber();
  __tsan_switch_to_fiber(impl_->tsanFibre, 0);
#endif
  // The fibre's first run receives this fibre in Entry; later runs return
  // from the jump in Yield.
  const context::transfer_t back = context::jump_fcontext(impl_->fibre, this);
  impl_->fibre = back.fctx;
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_finish_switch_fiber(callerFakeStack, nullptr, nullptr);
#endif
  currentImpl = previousImpl;
}

void Fibre::Yield() {
  Impl* const impl = currentImpl;
  if (impl == nullptr) return;
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_start_switch_fiber(&impl->fibreFakeStack, impl->callerStackBottom,
                                 impl->callerStackSize);
#endif
#if defined(REBOUND_SIM_TSAN)
  __tsan_switch_to_fiber(impl->tsanCaller, 0);
#endif
  // Whoever resumes the fibre next is where the following Yield returns.
  const context::transfer_t resumedBy = context::jump_fcontext(impl->caller, nullptr);
  impl->caller = resumedBy.fctx;
#if defined(REBOUND_SIM_ASAN)
  __sanitizer_finish_switch_fiber(impl->fibreFakeStack, &impl->callerStackBottom,
                                  &impl->callerStackSize);
#endif
}

bool Fibre::OnFibre() { return currentImpl != nullptr; }

StackUse Fibre::PeakStackUse() const {
  const std::size_t size = impl_->stackSize;
  return StackUse{true, size - LowestTouched(impl_->stack.get(), size), size};
}

std::span<const unsigned char> Fibre::StackInUse() const {
  // A suspended fibre's context is saved on its own stack, at its stack
  // pointer; below it lie only frames that have returned.
  const auto* top = impl_->stack.get() + impl_->stackSize;
  const auto* at = static_cast<const unsigned char*>(impl_->fibre);
  if (at < impl_->stack.get() || at > top) return {};
  return {at, static_cast<std::size_t>(top - at)};
}

}  // namespace sim
