// Work done ahead on helper threads and taken in order by one consumer.
//
// prepare(k) runs for k = 0, 1, ... count - 1 on `threads` helper threads,
// at most `window` jobs ahead of the one the consumer takes next, so that
// what waits is bounded. take(k) hands over job k's result, in order,
// waiting for it when it is not ready; an exception that prepare(k) threw is
// thrown there instead. Jobs the consumer never takes are dropped: the
// destructor stops the helpers (those running finish their job) and joins
// them. With no helper threads, take(k) prepares job k itself.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zaft {

template <class Result>
class OrderedPool {
 public:
  OrderedPool(size_t count, int threads, size_t window, std::function<Result(size_t)> prepare)
      : count_(count), window_(window < 1 ? 1 : window), prepare_(std::move(prepare)),
        slots_(window_) {
    for (int t = 0; t < threads; ++t) helpers_.emplace_back([this] { work(); });
  }
  ~OrderedPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : helpers_) t.join();
  }
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // Job k's result; k must be the next in order.
  Result take(size_t k) {
    if (helpers_.empty()) return prepare_(k);
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[k % window_];
    ready_.wait(lock, [&] { return slot.done; });
    std::optional<Result> result = std::move(slot.result);
    std::exception_ptr error = slot.error;
    slot = Slot{};
    taken_ = k + 1;
    lock.unlock();
    wake_.notify_all();
    if (error) std::rethrow_exception(error);
    return std::move(*result);
  }

 private:
  struct Slot {
    bool done = false;
    std::optional<Result> result;
    std::exception_ptr error;
  };

  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || (next_ < count_ && next_ < taken_ + window_); });
      if (stopping_) return;
      const size_t k = next_++;
      lock.unlock();
      std::optional<Result> result;
      std::exception_ptr error;
      try {
        result.emplace(prepare_(k));
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      Slot& slot = slots_[k % window_];
      slot.result = std::move(result);
      slot.error = error;
      slot.done = true;
      ready_.notify_all();
    }
  }

  const size_t count_;
  const size_t window_;
  const std::function<Result(size_t)> prepare_;
  std::mutex mutex_;
  std::condition_variable wake_;   // helpers: a job may start, or stop
  std::condition_variable ready_;  // the consumer: a job is done
  std::vector<Slot> slots_;        // job k in slot k % window
  size_t next_ = 0;                // the next job to start
  size_t taken_ = 0;               // jobs the consumer took
  bool stopping_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace zaft
