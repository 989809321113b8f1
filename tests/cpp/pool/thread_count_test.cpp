#include "pool/thread_count.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace tessary {
namespace {

using Text = std::optional<std::string_view>;

TEST(ParseThreadCount, AcceptsDigitsWithOneOptionalPlusAndNothingElse) {
  struct Case {
    std::string_view text;
    std::optional<std::size_t> expected;
  };
  const std::vector<Case> cases = {
      {"4", 4},
      {"+4", 4},
      {"0", 0},
      {"+0", 0},
      {"0012", 12},
      {"18446744073709551615", 18446744073709551615ULL},
      {"18446744073709551616", std::nullopt},  // one past the largest size
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"++4", std::nullopt},
      {"4+", std::nullopt},
      {"-3", std::nullopt},
      {"-0", std::nullopt},
      {" 4", std::nullopt},
      {"4 ", std::nullopt},
      {"abc", std::nullopt},
      {"4a", std::nullopt},
      {"\xff"
       "4",
       std::nullopt},              // not UTF-8
      {"\xd9\xa4", std::nullopt},  // an Arabic-Indic digit four is not an ASCII digit
      {std::string_view("4\0", 2), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_thread_count(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(ChooseThreadCount, FirstVariableThenSecondThenDefaultCappedAt65535) {
  struct Case {
    Text num_threads;
    Text rs_num_cpus;
    std::size_t expected;
  };
  constexpr std::size_t DEFAULT = 7;
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, DEFAULT},
      {"3", "5", 3},
      {"+4", std::nullopt, 4},
      {"0", "5", DEFAULT},  // 0 selects the default; the second variable is not consulted
      {"+0", "5", DEFAULT},
      {"abc", "5", 5},
      {"-3", "5", 5},
      {" 4", "6", 6},
      {"4 ", std::nullopt, DEFAULT},
      {"", "2", 2},
      {"99999999999999999999", "3", 3},
      {"\xff\xfe", "3", 3},
      {std::nullopt, "5", 5},
      {std::nullopt, "0", DEFAULT},
      {std::nullopt, "abc", DEFAULT},
      {"abc", "-1", DEFAULT},
      {"70000", "5", 65535},
      {std::nullopt, "65536", 65535},
      {"65535", std::nullopt, 65535},
      {"18446744073709551615", std::nullopt, 65535},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(choose_thread_count(c.num_threads, c.rs_num_cpus, DEFAULT), c.expected)
        << c.num_threads.value_or("<unset>") << " / " << c.rs_num_cpus.value_or("<unset>");
  }
  EXPECT_EQ(choose_thread_count(std::nullopt, std::nullopt, 100000), 65535u);
}

TEST(ProcessorsOrOne, ZeroOrFailureGivesOne) {
  EXPECT_EQ(processors_or_one(0), 1u);
  EXPECT_EQ(processors_or_one(-1), 1u);
  EXPECT_EQ(processors_or_one(1), 1u);
  EXPECT_EQ(processors_or_one(12), 12u);
}

// Restores a variable of the process environment when the test ends.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ThreadCountFromEnvironment, ReadsBothVariablesAndTheOnlineProcessors) {
  const auto online = processors_or_one(sysconf(_SC_NPROCESSORS_ONLN));
  {
    ScopedVariable first("RAYON_NUM_THREADS", "3");
    ScopedVariable second("RAYON_RS_NUM_CPUS", "5");
    EXPECT_EQ(thread_count_from_environment(), 3u);
  }
  {
    ScopedVariable first("RAYON_NUM_THREADS", "x");
    ScopedVariable second("RAYON_RS_NUM_CPUS", "5");
    EXPECT_EQ(thread_count_from_environment(), 5u);
  }
  {
    ScopedVariable first("RAYON_NUM_THREADS", nullptr);
    ScopedVariable second("RAYON_RS_NUM_CPUS", nullptr);
    EXPECT_EQ(thread_count_from_environment(), online);
  }
}

}  // namespace
}  // namespace tessary
