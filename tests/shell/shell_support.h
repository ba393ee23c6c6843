// Shared support of the window tests: the application object, a key recorder, scratch files.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "as/assembler.h"
#include "shell/key_target.h"
#include "shell/main_window.h"
#include "support/snippet.h"

namespace korvane::shell::test {

// One application object for all window tests, on the offscreen platform unless told
// otherwise.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "shell_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Records every key call as "down 9", "up 16" or "dev 201".
class RecordingKeys : public KeyTarget {
 public:
  bool KeyDown(int vk) override {
    calls.push_back("down " + std::to_string(vk));
    return !refuse;
  }
  void KeyUp(int vk) override { calls.push_back("up " + std::to_string(vk)); }
  bool DeviceKey(int code) override {
    calls.push_back("dev " + std::to_string(code));
    return !refuse;
  }
  std::vector<std::string> calls;
  bool refuse = false;  // act as a full key queue
};

// Runs the event loop until `done` holds; false when it does not within 10 s.
template <typename Done>
bool WaitUntil(Done done) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > 10000) return false;
    QTest::qWait(10);
  }
  return true;
}

// Writes `exe` as FOLDER/NAME.out beside an empty exclude list and memory file.
inline void WriteFirmware(const std::string& folder, const std::string& name,
                          const as::Executable& exe) {
  std::ofstream(folder + "/" + name + ".out", std::ios::binary)
      .write(reinterpret_cast<const char*>(exe.file.data()),
             static_cast<std::streamsize>(exe.file.size()));
  std::ofstream(folder + "/" + name + ".xcl").close();
  std::ofstream(folder + "/" + name + ".mem").close();
}

// Assembles the snippet `body` as the firmware x of `dir` (see WriteFirmware).
inline bool MakeFirmware(const QTemporaryDir& dir, const char* body, as::Executable& exe) {
  exe = as::AssembleAndLink({{"x.s", korvane::test::SnippetSource(body, true)}}, {});
  if (!exe.ok()) return false;
  WriteFirmware(dir.path().toStdString(), "x", exe);
  return true;
}

// A window that runs `project`, its settings in `dir`, its keys to `keys`, on a high screen.
inline WindowConfig RunConfig(const QTemporaryDir& dir, KeyTarget* keys, const QString& project) {
  WindowConfig config;
  config.store_path = dir.filePath("store.ini");
  config.screen_height = 2000;
  config.keys = keys;
  config.command_line_path = project;
  return config;
}

}  // namespace korvane::shell::test
