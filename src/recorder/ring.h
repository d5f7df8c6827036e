// The recording build's two lock-free queues: the byte ring that carries
// committed chunks from the script fibre to the writer thread, and the small
// queue that carries keyboard messages from the host's window thread to the
// fibre. Each has one producer and one consumer at a time; neither allocates,
// blocks or makes a system call.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "src/recorder/records.h"

namespace rebound::recorder {

// A byte ring of whole chunks. Positions count bytes for ever (they never
// wrap in 64 bits); a chunk never straddles the ring's end: when it would, a
// wrap chunk fills the rest and it starts again at offset 0. The producer
// reserves one or more chunks and publishes them together, or abandons them
// all, so that a frame and the lines that must precede it land as one.
class ByteRing {
 public:
  // `capacity` is rounded down to whole words.
  void Reset(std::uint8_t* storage, std::size_t capacity) noexcept {
    storage_ = storage;
    capacity_ = capacity & ~std::size_t{7};
    head_.store(0, std::memory_order_relaxed);
    tail_.store(0, std::memory_order_relaxed);
    reserved_ = 0;
  }
  std::size_t Capacity() const noexcept { return capacity_; }

  // ---- Producer ----
  // Room for `bytes` (a multiple of 8) in one piece, or nullptr when the
  // consumer has not yet freed enough.
  std::uint8_t* Reserve(std::size_t bytes) noexcept {
    const std::uint64_t tail = tail_.load(std::memory_order_acquire);
    const std::uint64_t free = capacity_ - (reserved_ - tail);
    std::size_t offset = static_cast<std::size_t>(reserved_ % capacity_);
    std::size_t pad = 0;
    if (offset + bytes > capacity_) pad = capacity_ - offset;
    if (pad + bytes > free) return nullptr;
    if (pad != 0) {
      ChunkHead wrap;
      wrap.bytes = static_cast<std::uint32_t>(pad);
      wrap.kind = kWrapChunk;
      // Only the first word is read back: a pad may be a single word.
      std::memcpy(storage_ + offset, &wrap, 8);
      reserved_ += pad;
      offset = 0;
    }
    reserved_ += bytes;
    return storage_ + offset;
  }
  void Publish() noexcept { head_.store(reserved_, std::memory_order_release); }
  void Abandon() noexcept { reserved_ = head_.load(std::memory_order_relaxed); }

  // ---- Consumer ----
  std::uint64_t ReadPosition() const noexcept { return tail_.load(std::memory_order_relaxed); }
  std::uint64_t WritePosition() const noexcept { return head_.load(std::memory_order_acquire); }
  // The chunk at position `at` (its head first), after any wrap chunk there
  // (moving `at` past it); nullptr when `at` has reached `head`.
  const std::uint8_t* ChunkAt(std::uint64_t& at, std::uint64_t head) const noexcept {
    while (at != head) {
      const std::uint8_t* p = storage_ + at % capacity_;
      std::uint32_t bytesAndKind[2];
      std::memcpy(bytesAndKind, p, sizeof bytesAndKind);
      if (bytesAndKind[1] != kWrapChunk) return p;
      at += bytesAndKind[0];
    }
    return nullptr;
  }
  // Gives everything before `position` back to the producer.
  void Release(std::uint64_t position) noexcept {
    tail_.store(position, std::memory_order_release);
  }

 private:
  std::uint8_t* storage_ = nullptr;
  std::size_t capacity_ = 0;
  alignas(64) std::atomic<std::uint64_t> head_{0};  // published by the producer
  alignas(64) std::atomic<std::uint64_t> tail_{0};  // released by the consumer
  std::uint64_t reserved_ = 0;                      // the producer's own
};

// One keyboard message as the host's handler received it.
struct KeyMessage {
  std::uint32_t key = 0;
  std::uint16_t repeats = 0;
  std::uint8_t scanCode = 0;
  std::uint8_t unused = 0;
  std::int32_t extended = 0;
  std::int32_t alt = 0;
  std::int32_t wasDownBefore = 0;
  std::int32_t isUp = 0;
};

// Keyboard messages on their way from the window thread to the fibre. A full
// queue drops the message and counts it: the window thread never waits.
template <std::size_t N>
class KeyQueue {
  static_assert((N & (N - 1)) == 0, "a power of two, so that positions may wrap");

 public:
  void Reset() noexcept {
    head_.store(0, std::memory_order_relaxed);
    tail_.store(0, std::memory_order_relaxed);
    dropped_.store(0, std::memory_order_relaxed);
  }
  // Producer.
  void Push(const KeyMessage& message) noexcept {
    const std::uint32_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) == N) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    slots_[head % N] = message;
    head_.store(head + 1, std::memory_order_release);
  }
  // Consumer.
  bool Pending() const noexcept {
    return head_.load(std::memory_order_acquire) != tail_.load(std::memory_order_relaxed);
  }
  bool Pop(KeyMessage& message) noexcept {
    const std::uint32_t tail = tail_.load(std::memory_order_relaxed);
    if (head_.load(std::memory_order_acquire) == tail) return false;
    message = slots_[tail % N];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }
  // Messages dropped so far.
  std::uint32_t Dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

 private:
  std::array<KeyMessage, N> slots_{};
  alignas(64) std::atomic<std::uint32_t> head_{0};
  alignas(64) std::atomic<std::uint32_t> tail_{0};
  std::atomic<std::uint32_t> dropped_{0};
};

}  // namespace rebound::recorder
