// A whole 32-bit (or smaller) value shared between the window thread and the worker. Every load
// and store is atomic with relaxed ordering: the painter sees the old or the new value, never a
// torn one, and no ordering between different counters is promised or needed.
#pragma once

#include <atomic>

template <typename T>
class Shared {
  public:
    constexpr Shared(T v = T{}) : v_(v) {}
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    operator T() const { return v_.load(std::memory_order_relaxed); }
    Shared& operator=(T v) {
        v_.store(v, std::memory_order_relaxed);
        return *this;
    }
    Shared& operator+=(T d) {
        v_.fetch_add(d, std::memory_order_relaxed);
        return *this;
    }
    T operator++() { return v_.fetch_add(1, std::memory_order_relaxed) + 1; }
    T operator++(int) { return v_.fetch_add(1, std::memory_order_relaxed); }

  private:
    std::atomic<T> v_;
};
