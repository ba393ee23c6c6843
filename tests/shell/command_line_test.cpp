// The programs' command lines, run as the user runs them: refused options and arguments, no
// display, --version.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string output;  // standard output and standard error
};

Outcome RunShell(const std::string& command) {
  Outcome o;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return o;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.output.append(buf, n);
  const int status = pclose(p);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return o;
}

TEST(CommandLine, RefusedArgumentsNoDisplayAndVersions) {
  // Never the user's own settings: the runs that get as far as a store use a scratch home.
  const std::string home = "HOME=/nonexistent XDG_CONFIG_HOME=/nonexistent ";
  const std::string offscreen = home + "QT_QPA_PLATFORM=offscreen ";
  const std::string no_display = home + "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  const std::string korvane = std::string(" ") + KORVANE_PATH;
  struct Row {
    std::string command;
    int status;
    const char* says;
    const char* why;
  } rows[] = {
      {offscreen + korvane + " --bogus", 2, "unknown option --bogus", "an option is no project"},
      {offscreen + korvane + " -x", 2, "Usage: korvane", "the usage follows the refusal"},
      {offscreen + korvane + " a.tvx b.tvx", 2, "one project file at most", "two projects"},
      {no_display + korvane, 1, "no display", "no display is named"},
      {no_display + "DISPLAY=:4711" + korvane + " x.tvx", 1, "no display",
       "the named display cannot be reached"},
      {no_display + korvane + " --version", 0, "korvane ", "--version needs no display"},
      {std::string(KORVANE_TEST_PATH) + " --version", 0, "korvane-test ", "korvane-test too"},
  };
  for (const Row& r : rows) {
    Outcome o = RunShell(r.command);
    EXPECT_EQ(o.status, r.status) << r.why << "\n" << o.output;
    EXPECT_NE(o.output.find(r.says), std::string::npos) << r.why << "\n" << o.output;
  }
}

}  // namespace
