// korvane-window-bench: what the window costs the core. Runs a mode-1 firmware (the demo by
// default) for a fixed wall time headless (the emulation thread alone) and in the window (on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise, its 250 ms timer repainting the
// display and the status line), alternating the two for a few rounds, and prints the guest
// instructions per second of each and the ratio window / headless: per wall-clock second, and
// per CPU second of the whole process (emulation and window threads), and per CPU second of the
// emulation thread alone (the process's CPU time less the main thread's), which shows whether
// the window slows the core itself; CPU seconds are disturbed less by other load on a shared
// machine than wall-clock seconds.
// Usage: korvane-window-bench [DEMO_DIR [SECONDS_PER_RUN [ROUNDS]]]
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/emulation_thread.h"
#include "driver/emulator.h"
#include "shell/main_window.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The run's first instructions (loading, drawing the first screen) are left out of the rate.
constexpr auto kWarmUp = std::chrono::milliseconds(300);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU seconds of the process so far, all threads.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the calling thread so far.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Instructions per wall-clock second, per process CPU second, per emulation-thread CPU second.
constexpr int kMeasures = 3;
struct Rate {
  double per[kMeasures] = {};
};

// The rates over `seconds` after the warm-up, from the totals the run loop publishes at its
// check points. `wait` passes the time (sleeping or running an event loop).
template <typename Wait>
Rate MeasureRate(korvane::Emulator& emu, double seconds, Wait wait) {
  wait(kWarmUp);
  uint64_t first = korvane::PublishedInstructionTotal(emu);
  Clock::time_point start = Clock::now();
  double cpu_start = CpuSeconds();
  double main_start = ThreadCpuSeconds();
  wait(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
  uint64_t last = korvane::PublishedInstructionTotal(emu);
  const double n = static_cast<double>(last - first);
  const double cpu = CpuSeconds() - cpu_start;
  const double main_thread = ThreadCpuSeconds() - main_start;
  return Rate{{n / Seconds(Clock::now() - start), n / cpu, n / (cpu - main_thread)}};
}

Rate RunHeadless(const fs::path& dir, const std::vector<std::string>& words, double seconds) {
  auto emu = std::make_unique<korvane::Emulator>();
  emu->base_folder = dir.string();
  emu->log.OpenFile((dir / "aaa.txt").string());
  emu->SetArgs(words);
  korvane::EmulationThread thread(*emu);
  thread.Start();
  Rate rate = MeasureRate(*emu, seconds, [](auto d) { std::this_thread::sleep_for(d); });
  thread.Stop();
  thread.Wait();
  if (emu->exit.message[0]) std::fprintf(stderr, "headless run: %s\n", emu->exit.message);
  return rate;
}

Rate RunWindow(const fs::path& dir, double seconds) {
  korvane::shell::WindowConfig config;
  config.store_path = QString::fromStdString((dir / "store.ini").string());
  config.command_line_path = QString::fromStdString((dir / "demo.tvx").string());
  korvane::shell::MainWindow window(config);
  window.show_message = [](QMessageBox::Icon, const QString& text) {
    std::fprintf(stderr, "window: %s\n", text.toLocal8Bit().constData());
  };
  window.show();
  window.Start();
  Rate rate = MeasureRate(window.emulator(), seconds, [](auto d) {
    QEventLoop loop;
    QTimer::singleShot(d, &loop, &QEventLoop::quit);
    loop.exec();
  });
  window.close();
  return rate;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  fs::path demo = argc > 1 ? fs::path(argv[1]) : fs::path(KORVANE_DEMO_DIR);
  double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
  int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  if (seconds <= 0 || rounds <= 0 || !fs::exists(demo / "demo.out")) {
    std::fprintf(stderr,
                 "usage: korvane-window-bench [DEMO_DIR [SECONDS_PER_RUN [ROUNDS]]]\n"
                 "DEMO_DIR must hold demo.out and demo.xcl\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  // A private copy of the project: the runs write the log and the settings store there.
  char dir_template[] = "/tmp/korvane_window_bench_XXXXXX";
  if (!mkdtemp(dir_template)) {
    std::perror("mkdtemp");
    return 1;
  }
  fs::path dir(dir_template);
  fs::copy_file(demo / "demo.out", dir / "demo.out");
  fs::copy_file(demo / "demo.xcl", dir / "demo.xcl");
  std::ofstream(dir / "demo.mem").close();
  fs::create_directories(dir / "drives" / "C");
  // -sp-: the window keeps running when the (offscreen) application is not the active one.
  const std::vector<std::string> words = {"korvane", "-v1", "-sp-", "demo"};
  std::ofstream(dir / "demo.tvx") << "korvane -v1 -sp- demo\n";

  std::vector<double> headless[kMeasures], windowed[kMeasures];
  const char* per[kMeasures] = {"wall-clock second", "process CPU second",
                                "emulation-thread CPU second"};
  for (int round = 1; round <= rounds; ++round) {
    Rate h = RunHeadless(dir, words, seconds);
    Rate w = RunWindow(dir, seconds);
    std::printf("round %d:", round);
    for (int k = 0; k < kMeasures; ++k) {
      headless[k].push_back(h.per[k]);
      windowed[k].push_back(w.per[k]);
      std::printf(" %.3f", w.per[k] / h.per[k]);
    }
    std::printf(" (window / headless per %s, %s, %s)\n", per[0], per[1], per[2]);
    std::fflush(stdout);
  }
  for (int k = 0; k < kMeasures; ++k) {
    double h = Median(headless[k]);
    double w = Median(windowed[k]);
    std::printf(
        "median per %s: headless %7.1f MIPS, window %7.1f MIPS, ratio %.3f (window costs "
        "%.1f %%)\n",
        per[k], h / 1e6, w / 1e6, w / h, (1 - w / h) * 100);
  }
  fs::remove_all(dir);
  return 0;
}
