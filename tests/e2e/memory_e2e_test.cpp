// The memory of rebound-sim does not grow with the length of the run: a long
// idle run, a run of many deaths and a long run streaming its trace to a file
// peak at about what a short run does. The peaks are the children's own
// maximum resident sizes, as the kernel counted them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/sanitizers.h"

namespace {

// Runs rebound-sim with the arguments; the peak resident size in KiB, or -1
// if it did not exit cleanly.
long PeakKiB(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(REBOUND_SIM_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(REBOUND_SIM_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

std::string WriteDeathScenario(const std::string& path, int deaths) {
  nlohmann::json scenario = {
      {"name", std::to_string(deaths) + " deaths"},
      {"frames", 60 + 800 * deaths},
      {"player", {{"position", {215.0, -810.0, 30.7}}}},
      {"world",
       {{"spawnSearch",
         {{"frames", 8}, {"outcome", "complete"}, {"results", {{290.0, -760.0, 29.5}}}}}}},
      {"events", nlohmann::json::array()}};
  for (int i = 0; i < deaths; ++i) {
    scenario["events"].push_back({{"frame", 60 + 800 * i}, {"health", 0}});
  }
  std::ofstream(path) << scenario.dump();
  return path;
}

// A short run's peak is the program itself; a long run may hold a little more
// (lists that reached their caps), never an amount that grows with the run.
constexpr long kAllowedGrowthKiB = 8 * 1024;

class RunMemory : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(REBOUND_UNDER_ASAN)
    // The sanitizer holds freed memory back in its quarantine: the peak then
    // measures the quarantine, not the run.
    GTEST_SKIP() << "peak sizes are not meaningful under AddressSanitizer";
#endif
#if defined(REBOUND_UNDER_TSAN)
    // ThreadSanitizer's shadow and history grow with the run.
    GTEST_SKIP() << "peak sizes are not meaningful under ThreadSanitizer";
#endif
    dir_ = std::filesystem::temp_directory_path() / ("rebound-memory-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

TEST_F(RunMemory, LongIdleRunPeaksAsAShortOne) {
  const long shortRun = PeakKiB({"--quiet", "--frames", "1000"});
  const long longRun = PeakKiB({"--quiet", "--frames", "300000"});
  ASSERT_GT(shortRun, 0);
  ASSERT_GT(longRun, 0);
  EXPECT_LT(longRun, shortRun + kAllowedGrowthKiB) << "short " << shortRun << " KiB";
}

TEST_F(RunMemory, HundredDeathsPeakAsOne) {
  const long oneDeath = PeakKiB({"--quiet", "--scenario", WriteDeathScenario(Path("one.json"), 1)});
  const long hundred =
      PeakKiB({"--quiet", "--scenario", WriteDeathScenario(Path("hundred.json"), 100)});
  ASSERT_GT(oneDeath, 0);
  ASSERT_GT(hundred, 0);
  EXPECT_LT(hundred, oneDeath + kAllowedGrowthKiB) << "one death " << oneDeath << " KiB";
}

// The report keeps what it shows: capped key frames, a sample of the frames
// and timeline columns that widen, not every frame's draw list.
TEST_F(RunMemory, ReportOfHundredDeathsPeaksAsOne) {
  const long oneDeath = PeakKiB({"--quiet", "--scenario", WriteDeathScenario(Path("one.json"), 1),
                                 "--report", Path("one.html")});
  const long hundred =
      PeakKiB({"--quiet", "--scenario", WriteDeathScenario(Path("hundred.json"), 100), "--report",
               Path("hundred.html")});
  ASSERT_GT(oneDeath, 0);
  ASSERT_GT(hundred, 0);
  EXPECT_LT(hundred, oneDeath + kAllowedGrowthKiB) << "one death " << oneDeath << " KiB";
  // And says what it left out.
  std::ifstream in(Path("hundred.html"));
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(html.find("later key frames are left out"), std::string::npos);
  EXPECT_NE(html.find("later deaths are not mapped"), std::string::npos);
}

TEST_F(RunMemory, TraceStreamsToItsFileAsTheRunGoes) {
  const std::string trace = Path("idle.jsonl");
  const long shortRun = PeakKiB({"--quiet", "--frames", "1000", "--trace", trace});
  const long longRun = PeakKiB({"--quiet", "--frames", "100000", "--trace", trace});
  ASSERT_GT(shortRun, 0);
  ASSERT_GT(longRun, 0);
  EXPECT_LT(longRun, shortRun + kAllowedGrowthKiB) << "short " << shortRun << " KiB";
  // Every frame's calls and wait are in the file, which was written whole.
  std::ifstream in(trace);
  std::size_t lines = 0;
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    ++lines;
    last = line;
  }
  EXPECT_GT(lines, 3U * 100000U);
  EXPECT_NE(last.find("\"host\":\"keyboardHandlerUnregister\""), std::string::npos)
      << "the unload is the last thing written: " << last;
  // No temporary is left beside it.
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(trace).parent_path())) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

}  // namespace
