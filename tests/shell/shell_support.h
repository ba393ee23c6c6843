// Shared support of the window tests: the application object, a key recorder, scratch files.
#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/key_target.h"

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

}  // namespace korvane::shell::test
