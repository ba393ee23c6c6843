// korvane-run's key scripts, screenshots and virtual time: parsing, the key feeder that hands
// scripted keys to the firmware as it polls, and PNG screenshots of the shown page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvane {
struct Emulator;
struct Machine;
}

namespace korvane::run {

struct RunnerConfig;

// The firmware must have taken the previous key at least this long ago (system_timer time)
// before the next one is delivered, so keys are neither lost nor merged into one pulse.
constexpr uint32_t kKeyGapMs = 300;
constexpr uint32_t kDefaultVirtualTime = 10000;  // instructions per virtual millisecond

// One step of a key script.
struct ScriptStep {
  enum Kind { kHostKey, kDeviceKey, kWait };
  Kind kind = kHostKey;
  int modifier_vk = 0;   // host key: 0, or the virtual key of Shift, Ctrl or Alt held with it
  int virtual_key = 0;   // host key
  int device_code = 0;   // device key, pushed with PushDeviceKey
  uint32_t wait_ms = 0;  // wait
  std::string token;     // as written in the script
};

// Parses a script: tokens separated by blanks (spaces, tabs, line ends). Returns false with
// `error` naming the first token that is not understood.
bool ParseKeyScript(const std::string& text, std::vector<ScriptStep>& steps, std::string& error);
// The --keys argument: a script, or @FILE to read the script from a file.
bool LoadKeyScript(const std::string& arg, std::vector<ScriptStep>& steps, std::string& error);

// Delivers a script through the routines the window uses (HostKeyDown/HostKeyUp and
// PushDeviceKey), from inside the firmware's x$readkeys calls on the emulation thread: a key
// goes out once the firmware has taken the previous one and kKeyGapMs of system_timer time
// have passed since. `wait:MS` makes the next key wait at least MS ms more, counted from the
// x$readkeys call at which the script reaches the wait. With virtual time the delivery is
// the same on every run.
class KeyFeeder {
 public:
  // Which clock waits and gaps count: system_timer (runs under virtual time repeat exactly) or
  // the wall clock (which passes however the firmware spends its time).
  enum class Clock { kSystemTimer, kWall };
  explicit KeyFeeder(std::vector<ScriptStep> steps, Clock clock = Clock::kSystemTimer);
  // Hooks the feeder into the emulator's keyboard; the feeder must outlive the run.
  void Install(Emulator& emu);
  // Steps handed out so far (waits included), and whether the last key was taken.
  size_t steps_done() const { return next_; }
  bool finished() const { return next_ == steps_.size() && !awaiting_take_; }
  // Runs at the start of each x$readkeys call.
  void OnReadKeys(Machine& emu);

 private:
  std::vector<ScriptStep> steps_;
  Clock clock_;
  size_t next_ = 0;
  bool awaiting_take_ = false;  // a delivered key is still in the input words
  bool gap_active_ = false;     // ready_at_ holds a time before which nothing is delivered
  uint32_t ready_at_ = 0;
  uint32_t prev_call_ = 0;      // system_timer at the previous x$readkeys call
};

// Writes the shown page's top 640 x 480 as an RGB PNG in the window's 3-3-2 colours. In video
// mode 5 the LCD is rendered first, as the window's refresh ticks would have done.
bool WriteScreenshot(Emulator& emu, const std::string& path, std::string& error);

// The options --keys, --screenshot and --virtual-time[=N].
struct ScriptOptions {
  std::vector<ScriptStep> keys;
  bool have_keys = false;
  std::string screenshot;
  uint32_t virtual_time = 0;  // 0: wall clock
  // Filled after the run: a screenshot that could not be written.
  std::shared_ptr<std::string> screenshot_error = std::make_shared<std::string>();
};

// Removes the three options from `args` (up to a "--") into `options`. Returns false with
// `error` on an unusable value or an unknown key-script token.
bool TakeScriptOptions(std::vector<std::string>& args, ScriptOptions& options,
                       std::string& error);
// Adds the hooks that apply the options around the run (feeder and virtual time before it,
// the screenshot after it).
void InstallScriptOptions(const ScriptOptions& options, RunnerConfig& config);
// Lines for --help.
std::string ScriptHelpText();

}  // namespace korvane::run
