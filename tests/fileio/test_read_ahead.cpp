// The read-ahead of long jobs: pieces consumed in order while the next is produced,
// each left untouched while it is used, and every way of stopping (consume says so,
// produce or consume throws) ending with the second thread joined.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "read_ahead.h"

namespace {

using arbsuite::arb::readAhead;

// Each piece fills its slot with its number; a slot is never written while its piece
// is consumed, however slowly, and the pieces come in order.
TEST(FileioReadAhead, PiecesComeInOrderAndStayPutWhileConsumed) {
  constexpr int kPieces = 9;
  std::vector<int> slots[2];
  int produced = 0;
  std::vector<int> seen;
  readAhead(
      [&](unsigned k) {
        slots[k].assign(1000, produced);
        return ++produced == kPieces;
      },
      [&](unsigned k) {
        const int number = slots[k].front();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the next is produced
        for (const int v : slots[k]) EXPECT_EQ(v, number);
        seen.push_back(number);
        return true;
      });
  std::vector<int> expected;
  for (int n = 0; n < kPieces; ++n) expected.push_back(n);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(produced, kPieces);
}

// A single piece that is also the last, and a consume that stops: production stops
// at most one piece beyond the one consumed last.
TEST(FileioReadAhead, ConsumeThatStopsEndsTheProduction) {
  int produced = 0;
  int consumed = 0;
  readAhead([&](unsigned) { return ++produced == 1; },
            [&](unsigned) {
              ++consumed;
              return true;
            });
  EXPECT_EQ(produced, 1);
  EXPECT_EQ(consumed, 1);

  std::atomic<int> made{0};
  consumed = 0;
  readAhead([&](unsigned) { return ++made == 1000; }, [&](unsigned) { return ++consumed < 3; });
  EXPECT_EQ(consumed, 3);
  EXPECT_LE(made.load(), 5);
}

// An exception of produce reaches the caller after the pieces before it; one of
// consume stops the production. Both leave the function with the thread joined
// (a thread left running would end the test program).
TEST(FileioReadAhead, ExceptionsOfEitherSideReachTheCaller) {
  struct Broken : std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  int produced = 0;
  std::vector<int> seen;
  int slots[2] = {};
  EXPECT_THROW(readAhead(
                   [&](unsigned k) {
                     if (produced == 3) throw Broken("piece 3");
                     slots[k] = produced++;
                     return false;
                   },
                   [&](unsigned k) {
                     seen.push_back(slots[k]);
                     return true;
                   }),
               Broken);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));

  int consumed = 0;
  EXPECT_THROW(readAhead([&](unsigned) { return false; },
                         [&](unsigned) -> bool {
                           if (++consumed == 4) throw Broken("consumer");
                           return true;
                         }),
               Broken);
  EXPECT_EQ(consumed, 4);
}

}  // namespace
