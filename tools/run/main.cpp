// korvane-run: run a firmware image headless (for scripts, CI and the tests).
#include <cstdio>
#include <string>
#include <vector>

#include "runner.h"

int main(int argc, char** argv) {
  using namespace korvane::run;
  std::vector<std::string> args(argv + 1, argv + argc);
  RunnerConfig config;
  std::string error;
  if (!ParseRunnerArgs(args, config, error)) {
    std::fprintf(stderr, "korvane-run: %s\n(korvane-run --help shows the usage)\n", error.c_str());
    return kExitUsage;
  }
  if (config.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  return RunEmulation(config, stdout, stderr);
}
