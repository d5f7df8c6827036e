// The main of every test program: GoogleTest's, with a watchdog over each test case. ctest runs
// a whole suite in one process, so its time limit covers the suite; the watchdog keeps the limit
// of one case, and when a case hangs (a script stuck in the simulator) it names that case and
// ends the program, instead of the suite's limit running out with no name given.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr const char* kCaseTimeoutFlag = "--rebound_case_timeout=";

class CaseWatchdog : public testing::EmptyTestEventListener {
 public:
  explicit CaseWatchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { Watch(); }) {}
  CaseWatchdog(const CaseWatchdog&) = delete;
  CaseWatchdog& operator=(const CaseWatchdog&) = delete;
  ~CaseWatchdog() override { Stop(); }

  void OnTestStart(const testing::TestInfo& info) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::string(info.test_suite_name()) + "." + info.name();
    deadline_ = std::chrono::steady_clock::now() + limit_;
    running_ = true;
    wake_.notify_one();
  }

  void OnTestEnd(const testing::TestInfo& /*info*/) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }

  // The thread is stopped before the program's static objects go, whoever owns this listener.
  void OnTestProgramEnd(const testing::UnitTest& /*unit*/) override { Stop(); }

 private:
  void Stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
  }

  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      if (!running_) {
        wake_.wait(lock);
        continue;
      }
      if (std::chrono::steady_clock::now() >= deadline_) {
        std::fprintf(stderr,
                     "\n[  TIMEOUT ] %s ran longer than %lld s: the test program stops here\n",
                     current_.c_str(), static_cast<long long>(limit_.count()));
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(1);
      }
      wake_.wait_until(lock, deadline_);
    }
  }

  const std::chrono::seconds limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string current_;
  std::chrono::steady_clock::time_point deadline_{};
  bool running_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once everything it reads is made
};

// Takes --rebound_case_timeout=SECONDS out of the arguments; 0 when it is absent or not a
// positive whole number.
long TakeCaseTimeout(int& argc, char** argv) {
  long seconds = 0;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::size_t prefix = std::strlen(kCaseTimeoutFlag);
    if (std::strncmp(argv[i], kCaseTimeoutFlag, prefix) == 0) {
      char* end = nullptr;
      const long value = std::strtol(argv[i] + prefix, &end, 10);
      seconds = (end != argv[i] + prefix && *end == '\0' && value > 0) ? value : 0;
      continue;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const long seconds = TakeCaseTimeout(argc, argv);
  if (seconds > 0) {
    // GoogleTest owns and deletes its listeners.
    testing::UnitTest::GetInstance()->listeners().Append(
        new CaseWatchdog(std::chrono::seconds(seconds)));
  }
  return RUN_ALL_TESTS();
}
