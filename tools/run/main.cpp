// korvane-run: run a firmware image headless (for scripts, CI and the tests).
#include <cstdio>
#include <string>
#include <vector>

#include "runner.h"
#include "script.h"
#include "serial_lines.h"

int main(int argc, char** argv) {
  using namespace korvane::run;
  std::vector<std::string> args(argv + 1, argv + argc);
  RunnerConfig config;
  ScriptOptions script;
  SerialLineOptions serial;
  std::string error;
  // The key-script, screenshot and virtual-time options are taken out first; the rest is the
  // runner's own option table.
  if (!TakeScriptOptions(args, script, error) || !TakeSerialOptions(args, serial, error) ||
      !ParseRunnerArgs(args, config, error)) {
    std::fprintf(stderr, "korvane-run: %s\n(korvane-run --help shows the usage)\n", error.c_str());
    return kExitUsage;
  }
  if (config.version) {
    std::printf("korvane-run %s\n", KORVANE_VERSION);
    return 0;
  }
  if (config.help) {
    std::fputs((HelpText() + ScriptHelpText() + SerialHelpText()).c_str(), stdout);
    return 0;
  }
  InstallScriptOptions(script, config);
  InstallSerialOptions(serial, config);
  int status = RunEmulation(config, stdout, stderr);
  if (!serial.error->empty()) {
    std::fprintf(stderr, "korvane-run: %s\n", serial.error->c_str());
    if (status != kExitMessage) status = kExitUsage;
  }
  if (!script.screenshot_error->empty()) {
    std::fprintf(stderr, "korvane-run: %s\n", script.screenshot_error->c_str());
    if (status != kExitMessage) status = kExitUsage;
  }
  return status;
}
