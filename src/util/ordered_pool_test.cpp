#include "util/ordered_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace zaft {
namespace {

// Results arrive in order whatever finishes first; no job starts more than
// `window` ahead of the one taken; none is left running by the destructor.
TEST(OrderedPool, TakesInOrderWithinTheWindow) {
  for (int threads : {0, 1, 3}) {
    SCOPED_TRACE(threads);
    std::atomic<size_t> taken{0};
    std::atomic<bool> tooFarAhead{false};
    OrderedPool<size_t> pool(200, threads, 4, [&](size_t k) {
      // `taken` is set just after take() returns: one behind at most.
      if (k >= taken.load() + 4 + 1) tooFarAhead = true;
      return k * k;
    });
    for (size_t k = 0; k < 200; ++k) {
      EXPECT_EQ(pool.take(k), k * k);
      taken = k + 1;
    }
    EXPECT_FALSE(tooFarAhead.load());
  }
}

// A job's exception is thrown where it is taken, after the jobs before it;
// the jobs after it are dropped when the pool goes.
TEST(OrderedPool, AnExceptionArrivesInItsTurn) {
  std::atomic<int> started{0};
  OrderedPool<int> pool(1000, 2, 8, [&](size_t k) {
    ++started;
    if (k == 5) throw std::runtime_error("job 5");
    return static_cast<int>(k);
  });
  for (size_t k = 0; k < 5; ++k) EXPECT_EQ(pool.take(k), static_cast<int>(k));
  EXPECT_THROW(pool.take(5), std::runtime_error);
  EXPECT_LE(started.load(), 5 + 1 + 8);
}

}  // namespace
}  // namespace zaft
