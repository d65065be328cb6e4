// The program's threads sleep while they wait unless the user chose how they
// wait: the choice of settings, and what GCC's OpenMP runtime itself reports
// of its policy (OMP_DISPLAY_ENV) in the program.
#include "mca/omp_wait_policy.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/qz_mca_program.h"
#include "support/temp_folder.h"
#include "support/test_images.h"

namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

struct SettingsCase {
  const char* what;
  std::map<std::string, std::string> environment;
  int max_threads, other_tasks, cpus;
  Settings expected;
};

TEST(SleepingThreadSettings, UnchosenPolicySpinsShortlyOnlyWithACorePerThread) {
  const Settings passive{{"OMP_WAIT_POLICY", "passive"}}, spin{{"GOMP_SPINCOUNT", QuietSpinCount}},
      bound{{"GOMP_SPINCOUNT", QuietSpinCount}, {"OMP_PROC_BIND", "close"}};
  const SettingsCase cases[] = {
      {"nothing chosen, busy machine", {}, 8, 3, 8, passive},
      {"nothing chosen, quiet machine", {}, 8, 0, 8, bound},
      {"one core short", {}, 4, 5, 8, passive},
      {"cores to spare: left unbound", {}, 4, 4, 8, spin},
      {"load unknown", {}, 2, -1, 8, passive},
      {"other variables only",
       {{"OMP_NUM_THREADS", "4"}, {"OMP_PROC_BIND", "true"}}, 4, 9, 8, passive},
      {"the user's binding", {{"OMP_PROC_BIND", "false"}}, 8, 0, 8, spin},
      {"the user's places", {{"OMP_PLACES", "cores"}}, 8, 0, 8, spin},
      {"the user's affinity", {{"GOMP_CPU_AFFINITY", "0-7"}}, 8, 0, 8, spin},
      {"the user's active policy", {{"OMP_WAIT_POLICY", "active"}}, 8, 9, 8, {}},
      {"the user's passive policy", {{"OMP_WAIT_POLICY", "PASSIVE"}}, 8, 0, 8, {}},
      {"an empty policy is still the user's", {{"OMP_WAIT_POLICY", ""}}, 8, 9, 8, {}},
      {"the user's spin count", {{"GOMP_SPINCOUNT", "100000"}}, 8, 0, 8, {}},
      {"one thread never waits", {}, 1, 9, 8, {}},
  };
  for (const SettingsCase& c : cases) {
    const auto lookup = [&](const char* name) -> const char* {
      auto found = c.environment.find(name);
      return found == c.environment.end() ? nullptr : found->second.c_str();
    };
    const auto other_tasks = [&](int) { return c.other_tasks; };
    EXPECT_EQ(sleeping_thread_settings(lookup, c.max_threads, other_tasks, c.cpus), c.expected)
        << c.what;
  }
}

// Counting may keep the start waiting for 2 ms: it is done only when its
// answer can make threads spin.
TEST(SleepingThreadSettings, CountsTasksOnlyWhenTheCountDecides) {
  const struct {
    const char* what;
    const char* policy;  // OMP_WAIT_POLICY, null: not set
    int max_threads;
    bool counted;
  } cases[] = {
      {"a core per thread", nullptr, 8, true},
      {"more threads than cores", nullptr, 12, false},
      {"one thread", nullptr, 1, false},
      {"the user's policy", "active", 8, false},
  };
  for (const auto& c : cases) {
    int counts = 0;
    const auto settings = sleeping_thread_settings(
        [&](const char* name) -> const char* {
          return std::string(name) == "OMP_WAIT_POLICY" ? c.policy : nullptr;
        },
        c.max_threads, [&](int) { return counts++, 0; }, 8);
    EXPECT_EQ(counts > 0, c.counted) << c.what;
    if (c.max_threads > 8) {
      ASSERT_EQ(settings.size(), 1u) << c.what;
      EXPECT_EQ(settings[0].second, "passive") << c.what;
    }
  }
}

// The tasks of one instant that are on their way to sleep are not counted:
// the least of a few counts decides, and counting stops once one leaves
// enough cores.
TEST(LeastCount, LeastOfTheCountsStoppingAtOneThatIsLowEnough) {
  const struct {
    std::vector<int> counts;
    int most, expected, taken;
  } cases[] = {
      {{0, 5, 5, 5}, 0, 0, 1},    // low enough at once: no second count
      {{2, 1, 0, 3}, 0, 0, 3},    // the starter goes to sleep
      {{3, 3, 3, 3}, 0, 3, 4},    // busy throughout
      {{4, 2, 6, 5}, 1, 2, 4},    // never low enough: the least
      // An unreadable count ends the counting: no pause waits for nothing.
      {{-1, 1, 0, 0}, 1, -1, 1},
      {{-1, -1, -1, -1}, 0, -1, 1},
      {{3, -1, 0, 0}, 0, 3, 2},
      {{5, 2, 9, 9}, 2, 2, 2},
  };
  for (const auto& c : cases) {
    int taken = 0, pauses = 0;
    const int least = least_count([&] { return c.counts[taken++]; }, c.most, 4, [&] { pauses++; });
    EXPECT_EQ(least, c.expected) << "case with most " << c.most << " and first " << c.counts[0];
    EXPECT_EQ(taken, c.taken);
    EXPECT_EQ(pauses, c.taken - 1);
  }
}

// The runnable tasks of the fourth field, less this process; anything else
// is unknown.
TEST(OtherRunnableTasks, FourthFieldOfTheLoadAverageLessThisProcess) {
  const std::string dir = test_support::make_temp_folder("qz_loadavg_test");
  const std::string file = dir + "/loadavg";
  const struct {
    const char* content;  // null: no file
    int expected;
  } cases[] = {
      {"0.52 0.58 0.59 3/467 12345\n", 2},
      {"0.00 0.01 0.05 1/80 9\n", 0},
      {"0.00 0.01 0.05 0/80 9\n", -1},
      {"0.00 0.01 0.05\n", -1},
      {nullptr, -1},
  };
  for (const auto& c : cases) {
    std::remove(file.c_str());
    if (c.content != nullptr) std::ofstream(file) << c.content;
    EXPECT_EQ(other_runnable_tasks(file.c_str()), c.expected)
        << (c.content ? c.content : "(no file)");
  }
  std::remove(file.c_str());
  rmdir(dir.c_str());
}

// Counts as GCC's runtime reads them (it ignores a value that is not a
// positive number, and a list gives the count of each nesting level).
TEST(RuntimeThreadCount, FirstPositiveCountOfTheListOrTheCpus) {
  const struct {
    const char* value;  // null: not set
    int expected;
  } cases[] = {
      {nullptr, 6}, {"3", 3}, {"  3", 3}, {"3 ", 3}, {"4,2", 4}, {"4 ,2", 4},
      {"0", 6},     {"", 6},  {"-2", 6},  {"two", 6}, {"3x", 6},  {"99999999999", 2147483647},
  };
  for (const auto& c : cases)
    EXPECT_EQ(runtime_thread_count(c.value, 6), c.expected) << (c.value ? c.value : "(not set)");
}

class SleepingThreads : public QzMcaProgram {
 protected:
  // Runs the program as "qz_mca" under `environment` (arguments of env,
  // without the wait variables of the test's own environment) with the
  // runtime's report of its settings, for each process started, on the
  // standard error.
  int run_reporting(const std::string& environment, const std::string& args) {
    const std::string command =
        "cd '" + dir_ +
        "' && env -u OMP_WAIT_POLICY -u GOMP_SPINCOUNT -u OMP_PROC_BIND -u OMP_PLACES "
        "-u GOMP_CPU_AFFINITY OMP_DISPLAY_ENV=verbose " +
        environment + " bash -c 'exec -a qz_mca \"$0\" \"$@\"' '" + program_ + "' " + args +
        " > output.txt 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(path("output.txt"));
    std::stringstream text;
    text << in.rdbuf();
    output_ = text.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int reports() const { return count("OPENMP DISPLAY ENVIRONMENT BEGIN"); }
  int count(const std::string& text) const {
    int n = 0;
    for (size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) n++;
    return n;
  }
  // The value the last report gives to a variable.
  std::string last_value(const std::string& name) const {
    const std::string key = "  " + name + " = '";
    const size_t at = output_.rfind(key);
    if (at == std::string::npos) return "";
    const size_t from = at + key.size();
    return output_.substr(from, output_.find('\'', from) - from);
  }
  // Skips the test; the caller returns when IsSkipped().
  void require_runtime_report() {
    if (last_value("GOMP_SPINCOUNT").empty()) GTEST_SKIP() << "the OpenMP runtime is not GCC's";
  }
};

// The runtime, which reads its settings before main, finds the policy set:
// in its one report, in a single process.
TEST_F(SleepingThreads, UnchosenPolicyIsInPlaceWhenTheRuntimeStarts) {
  run_reporting("OMP_NUM_THREADS=2", "-q in out");
  require_runtime_report();
  if (IsSkipped()) return;
  EXPECT_EQ(reports(), 1) << output_;
  // Passive or a short spin, as the machine's load at the start decides; not
  // the runtime's default of 300000.
  const std::string spin = last_value("GOMP_SPINCOUNT");
  EXPECT_TRUE(spin == "0" || spin == QuietSpinCount) << output_;
  EXPECT_EQ(last_value("OMP_NUM_THREADS"), "2") << output_;
  EXPECT_TRUE(printed("Usage: qz_mca options in_image result")) << output_;
  EXPECT_EQ(count("Usage: "), 1) << output_;
}

// A team on every core is bound when it spins, so that no two of its
// threads start on one core; the binding reaches the runtime before it starts.
TEST_F(SleepingThreads, TeamOnEveryCoreIsBoundWhenItSpins) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  const int cpus = CPU_COUNT(&set);
  if (cpus < 2) GTEST_SKIP() << "one core: one thread never waits";
  run_reporting("OMP_NUM_THREADS=" + std::to_string(cpus), "-q in out");
  require_runtime_report();
  if (IsSkipped()) return;
  const std::string spin = last_value("GOMP_SPINCOUNT"), bind = last_value("OMP_PROC_BIND");
  if (spin == QuietSpinCount) EXPECT_EQ(bind, "CLOSE") << output_;
  else EXPECT_TRUE(spin == "0" && bind == "FALSE") << output_;
}

TEST_F(SleepingThreads, UsersChoiceIsKept) {
  const struct {
    const char* environment;
    const char* variable;
    const char* value;
  } cases[] = {
      {"OMP_NUM_THREADS=2 OMP_WAIT_POLICY=active", "OMP_WAIT_POLICY", "ACTIVE"},
      {"OMP_NUM_THREADS=2 GOMP_SPINCOUNT=1234", "GOMP_SPINCOUNT", "1234"},
      {"OMP_NUM_THREADS=1", "OMP_NUM_THREADS", "1"},
      {"OMP_PROC_BIND=spread", "OMP_PROC_BIND", "SPREAD"},
  };
  for (const auto& c : cases) {
    run_reporting(c.environment, "-q in out");
    require_runtime_report();
    if (IsSkipped()) return;
    EXPECT_EQ(reports(), 1) << c.environment << "\n" << output_;
    EXPECT_EQ(last_value(c.variable), c.value) << c.environment << "\n" << output_;
    EXPECT_TRUE(printed("Usage: qz_mca options")) << output_;
  }
}

// The policy the program chooses changes how threads wait, not the results.
TEST_F(SleepingThreads, ChosenPolicyGivesTheResultsOfTheUsersPolicy) {
  FitsImage in(64, 64);
  const to_array<float, false> noise = normal_image(64, 64, 7, 2.f);
  for (int k = 0; k < 64 * 64; k++) in.pixels[k] = 100.f + noise.buffer()[k] + (k % 64 > 30 ? 20.f : 0.f);
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run_reporting("OMP_NUM_THREADS=2", "-t 1 -i 3 -g 2 in.fits chosen"), 0) << output_;
  ASSERT_EQ(run_reporting("OMP_NUM_THREADS=2 OMP_WAIT_POLICY=passive", "-t 1 -i 3 -g 2 in.fits direct"), 0)
      << output_;
  const FitsImage chosen = result("chosen_atrou.fits"), direct = result("direct_atrou.fits");
  ASSERT_EQ(chosen.nl, 64);
  EXPECT_TRUE(chosen.pixels == direct.pixels);
  EXPECT_EQ(read_fits(path("in.fits")).pixels, in.pixels);
}

}  // namespace
