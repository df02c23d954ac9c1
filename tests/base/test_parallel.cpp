// The thread settings and the two task loops: values of the variables, results merged
// in block order whatever the thread count, and the first failure in block order.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.hpp"
#include "base/parallel.hpp"
#include "support/test_support.hpp"

using namespace mcspec;

TEST(Parallel, SettingsFromTheEnvironment) {
  const ParallelConfig unset = parse_parallel_config(nullptr, nullptr, nullptr), set = parse_parallel_config("3", "1", "1");
  EXPECT_EQ(unset.threads, available_cores());
  EXPECT_TRUE(!unset.streams && !unset.ion_spectrum && unset.packet_ramp == 1.0);
  EXPECT_EQ(parse_parallel_config("auto", "0", "").threads, available_cores());
  EXPECT_TRUE(set.threads == 3 && set.streams && set.ion_spectrum);
  EXPECT_EQ(parse_parallel_config(nullptr, nullptr, nullptr, "0.25").packet_ramp, 0.25);
  // Refused values name their variable.
  const auto refused = [](const char* threads, const char* streams, const char* ramp) {
    return std::string(
        mcspec::test::thrown<InputError>([&] { parse_parallel_config(threads, streams, nullptr, ramp); }).what());
  };
  for (const char* t : {"0", "1.5", " 2", "1025", "99999999999"}) EXPECT_CONTAINS(refused(t, nullptr, nullptr), "MCSPEC_THREADS");
  for (const char* t : {"true", "01"}) EXPECT_CONTAINS(refused(nullptr, t, nullptr), "MCSPEC_STREAMS");
  for (const char* t : {"0", "1.5", "-0.5", "0.25x", "nan"}) EXPECT_CONTAINS(refused(nullptr, nullptr, t), "MCSPEC_PACKET_RAMP");
}

TEST(Parallel, BlocksMergeInOrderForAnyThreadCount) {
  for (const int threads : {1, 2, 3, 8}) {
    const int blocks = 37;
    std::vector<int> slot_value(64, -1), merged;
    ordered_blocks(
        blocks, threads, 2 * threads,
        [&](int b, int slot, int) {
          // uneven work, so that blocks finish out of order
          std::this_thread::sleep_for(std::chrono::microseconds((b * 7919) % 13 * 50));
          slot_value[static_cast<std::size_t>(slot)] = b;
        },
        [&](int b, int slot) {
          EXPECT_EQ(slot_value[static_cast<std::size_t>(slot)], b);
          merged.push_back(b);
        });
    ASSERT_EQ(merged.size(), static_cast<std::size_t>(blocks)) << threads;
    for (int b = 0; b < blocks; ++b) EXPECT_EQ(merged[static_cast<std::size_t>(b)], b) << threads;
  }
}

TEST(Parallel, TheFirstFailureInOrderIsReported) {
  for (const int threads : {1, 2, 3, 8}) {
    std::vector<int> merged;
    try {
      ordered_blocks(
          40, threads, 4,
          [&](int b, int, int) {
            if (b == 25) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (b == 11 || b == 25) throw std::runtime_error("block " + std::to_string(b));
          },
          [&](int b, int) { merged.push_back(b); });
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "block 11");
    }
    ASSERT_EQ(merged.size(), 11u) << threads;  // blocks 0..10, in order
    for (int b = 0; b < 11; ++b) EXPECT_EQ(merged[static_cast<std::size_t>(b)], b);
    std::vector<char> seen(30, 0);
    try {
      parallel_for(30, threads, [&](int t, int) {
        seen[static_cast<std::size_t>(t)] = 1;
        if (t == 4 || t == 9) throw std::runtime_error("task " + std::to_string(t));
      });
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "task 4");
    }
    for (int t = 0; t <= 4; ++t) EXPECT_TRUE(seen[static_cast<std::size_t>(t)]) << t;
  }
}
