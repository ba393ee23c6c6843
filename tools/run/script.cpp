// korvane-run's key scripts, screenshots and virtual time: parsing, the key feeder that hands
// scripted keys to the firmware as it polls, and PNG screenshots of the shown page.
#include "script.h"

#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "driver/emulator.h"
#include "platform/keyboard_layout.h"
#include "platform/png.h"
#include "runner.h"
#include "services/display.h"
#include "services/keyboard.h"

namespace korvane::run {

namespace {

constexpr int kVkShift = 0x10;
constexpr int kVkControl = 0x11;
constexpr int kVkMenu = 0x12;
constexpr uint32_t kMaxWaitMs = 86400000;  // one day of firmware time is plenty

struct NamedKey {
  const char* name;
  int vk;
};

// Named keys and the Windows virtual keys the window would deliver for them.
constexpr NamedKey kNamedKeys[] = {
    {"UP", 0x26},    {"DOWN", 0x28},  {"LEFT", 0x25}, {"RIGHT", 0x27}, {"ENTER", 0x0D},
    {"ESC", 0x1B},   {"TAB", 0x09},   {"HOME", 0x24}, {"END", 0x23},   {"PGUP", 0x21},
    {"PGDN", 0x22},  {"BKSP", 0x08},  {"DEL", 0x2E},  {"KP.", 0x6E},   {"KP-", 0x6D},
    {"KP+", 0x6B},   {"KP*", 0x6A},   {"KP/", 0x6F},
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool ParseUnsigned(const std::string& s, int base, unsigned long max, unsigned long& out) {
  if (s.empty() || !std::isxdigit(static_cast<unsigned char>(s.back()))) return false;
  if (s[0] == '-' || s[0] == '+' || std::isspace(static_cast<unsigned char>(s[0]))) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(s.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

// Key name (without modifier) to virtual key and the modifier the layout needs; false when
// the name is not a key.
bool LookupKey(const std::string& name, int& vk, int& layout_modifier) {
  layout_modifier = 0;
  const std::string u = Upper(name);
  for (const NamedKey& k : kNamedKeys) {
    if (u == k.name) {
      vk = k.vk;
      return true;
    }
  }
  unsigned long n = 0;
  if (u.size() >= 2 && u[0] == 'F' && ParseUnsigned(u.substr(1), 10, 10, n) && n >= 1 &&
      u.substr(1) == std::to_string(n)) {
    vk = 0x70 + static_cast<int>(n) - 1;
    return true;
  }
  if (u.size() == 3 && u.compare(0, 2, "KP") == 0 && u[2] >= '0' && u[2] <= '9') {
    vk = 0x60 + (u[2] - '0');
    return true;
  }
  if (u.size() == 1 && ((u[0] >= '0' && u[0] <= '9') || (u[0] >= 'A' && u[0] <= 'Z'))) {
    vk = u[0];
    return true;
  }
  if (u.size() == 1 && (u[0] == '(' || u[0] == ')' || u[0] == '.' || u[0] == ',' || u[0] == '-')) {
    int16_t scan = VkKeyScanA(u[0]);
    if (scan < 0) return false;
    vk = scan & 0xFF;
    if ((scan >> 8) & kLayoutShift) layout_modifier = kVkShift;
    return true;
  }
  return false;
}

bool ParseToken(const std::string& token, ScriptStep& step, std::string& error) {
  step = ScriptStep{};
  step.token = token;
  const std::string u = Upper(token);
  if (u.compare(0, 5, "WAIT:") == 0) {
    unsigned long ms = 0;
    if (!ParseUnsigned(token.substr(5), 10, kMaxWaitMs, ms)) {
      error = "bad wait in key script: '" + token + "' (wait:MS, MS in milliseconds)";
      return false;
    }
    step.kind = ScriptStep::kWait;
    step.wait_ms = static_cast<uint32_t>(ms);
    return true;
  }
  if (token.size() > 1 && token[0] == '#') {
    unsigned long code = 0;
    if (!ParseUnsigned(token.substr(1), 0, 255, code) || code == 0) {
      error = "bad device code in key script: '" + token + "' (#0x01 to #0xFF)";
      return false;
    }
    step.kind = ScriptStep::kDeviceKey;
    step.device_code = static_cast<int>(code);
    return true;
  }
  std::string key = token;
  int modifier = 0;
  static const struct { const char* prefix; int vk; } kPrefixes[] = {
      {"CTRL+", kVkControl}, {"SHIFT+", kVkShift}, {"ALT+", kVkMenu}};
  for (const auto& p : kPrefixes) {
    const size_t n = std::char_traits<char>::length(p.prefix);
    if (u.size() > n && u.compare(0, n, p.prefix) == 0) {
      modifier = p.vk;
      key = token.substr(n);
      break;
    }
  }
  int vk = 0, layout_modifier = 0;
  if (!LookupKey(key, vk, layout_modifier)) {
    error = "unknown key in key script: '" + token + "'";
    return false;
  }
  if (modifier && layout_modifier) {
    error = "key script: '" + token + "' combines a modifier with a character typed with Shift";
    return false;
  }
  step.kind = ScriptStep::kHostKey;
  step.modifier_vk = modifier ? modifier : layout_modifier;
  step.virtual_key = vk;
  return true;
}

// True when time a lies before time b (system_timer wraps, so by signed difference).
bool Before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

// Milliseconds of wall-clock time, wrapping as system_timer does.
uint32_t WallClockMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void FeederHook(Machine& emu, void* context) {
  static_cast<KeyFeeder*>(context)->OnReadKeys(emu);
}

}  // namespace

bool ParseKeyScript(const std::string& text, std::vector<ScriptStep>& steps, std::string& error) {
  steps.clear();
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    ScriptStep step;
    if (!ParseToken(token, step, error)) return false;
    steps.push_back(step);
  }
  return true;
}

bool LoadKeyScript(const std::string& arg, std::vector<ScriptStep>& steps, std::string& error) {
  if (arg.empty() || arg[0] != '@') return ParseKeyScript(arg, steps, error);
  const std::string path = arg.substr(1);
  // Read errors count as well as a failed open: a directory opens but cannot be read, and
  // must not pass as an empty script.
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::string text;
  bool ok = f != nullptr;
  if (f) {
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    ok = std::ferror(f) == 0;
    std::fclose(f);
  }
  if (!ok) {
    error = "cannot read the key script file " + path;
    return false;
  }
  return ParseKeyScript(text, steps, error);
}

KeyFeeder::KeyFeeder(std::vector<ScriptStep> steps, Clock clock)
    : steps_(std::move(steps)), clock_(clock) {}

void KeyFeeder::Install(Emulator& emu) {
  emu.keys.before_read = FeederHook;
  emu.keys.before_read_context = this;
}

void KeyFeeder::OnReadKeys(Machine& emu) {
  const uint32_t now = clock_ == Clock::kSystemTimer ? ReadSystemTimer(emu) : WallClockMs();
  if (awaiting_take_) {
    if (emu.keys.pending_device_key.load() != 0 || emu.keys.pending_host_key.load() != 0) {
      prev_call_ = now;
      return;  // not taken yet (the first x$readkeys call of a run takes no key)
    }
    // It was taken by the previous call: the gap counts from then.
    awaiting_take_ = false;
    gap_active_ = true;
    ready_at_ = prev_call_ + kKeyGapMs;
  }
  while (next_ < steps_.size()) {
    const ScriptStep& s = steps_[next_];
    if (s.kind == ScriptStep::kWait) {
      const uint32_t until = now + s.wait_ms;
      if (!gap_active_ || Before(ready_at_, until)) ready_at_ = until;
      gap_active_ = true;
      ++next_;
      continue;
    }
    if (gap_active_ && Before(now, ready_at_)) break;
    if (s.kind == ScriptStep::kDeviceKey) {
      PushDeviceKey(emu, s.device_code);
    } else {
      if (s.modifier_vk) HostKeyDown(emu, s.modifier_vk);
      HostKeyDown(emu, s.virtual_key);
      if (s.modifier_vk) HostKeyUp(emu, s.modifier_vk);
    }
    TakeQueuedKey(emu.keys);  // this x$readkeys call hands the key over
    awaiting_take_ = true;
    ++next_;
    break;
  }
  prev_call_ = now;
}

bool WriteScreenshot(Emulator& emu, const std::string& path, std::string& error) {
  if (emu.display.mode == 5) {
    // The LCD is drawn by refresh ticks; the first ticks after start draw nothing.
    while (emu.display.lcd_countdown > 0) DisplayRefresh(emu);
    DisplayRefresh(emu);
  }
  std::vector<uint8_t> picture(static_cast<size_t>(kPageWidth) * kShownHeight);
  CopyShownPicture(emu, picture.data());
  std::vector<uint8_t> rgb(picture.size() * 3);
  for (size_t i = 0; i < picture.size(); ++i) {
    Rgb c = PaletteColour(picture[i]);
    rgb[3 * i] = c.r;
    rgb[3 * i + 1] = c.g;
    rgb[3 * i + 2] = c.b;
  }
  return WritePngRgb(path, kPageWidth, kShownHeight, rgb.data(), &error);
}

bool TakeScriptOptions(std::vector<std::string>& args, ScriptOptions& options,
                       std::string& error) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      rest.insert(rest.end(), args.begin() + static_cast<long>(i), args.end());
      break;
    }
    const size_t eq = a.find('=');
    const std::string name = a.substr(0, eq);
    const bool has_value = eq != std::string::npos;
    if (name == "--keys" || name == "--screenshot") {
      std::string value;
      if (has_value) {
        value = a.substr(eq + 1);
      } else if (i + 1 < args.size() && args[i + 1] != "--") {
        value = args[++i];
      } else {
        error = name + " needs a value (" + (name == "--keys" ? "SCRIPT" : "FILE") + ")";
        return false;
      }
      if (name == "--keys") {
        if (!LoadKeyScript(value, options.keys, error)) return false;
        options.have_keys = true;
      } else {
        if (value.empty()) {
          error = "--screenshot needs a file name";
          return false;
        }
        options.screenshot = value;
      }
      continue;
    }
    if (name == "--virtual-time") {
      // The value is optional, so it is only taken when written with "=".
      unsigned long n = kDefaultVirtualTime;
      if (has_value && (!ParseUnsigned(a.substr(eq + 1), 10, 0xFFFFFFFFul, n) || n == 0)) {
        error = "--virtual-time needs a positive number of instructions, not '" +
                a.substr(eq + 1) + "'";
        return false;
      }
      options.virtual_time = static_cast<uint32_t>(n);
      continue;
    }
    rest.push_back(a);
  }
  args.swap(rest);
  return true;
}

void InstallScriptOptions(const ScriptOptions& options, RunnerConfig& config) {
  if (options.virtual_time) {
    const uint32_t n = options.virtual_time;
    config.before_run.push_back([n](Emulator& emu) { emu.run.virtual_time_instructions = n; });
  }
  if (options.have_keys) {
    // Under virtual time the script follows system_timer, so runs repeat exactly; otherwise
    // waits and gaps are wall-clock time, which passes however the firmware spends it.
    auto feeder = std::make_shared<KeyFeeder>(
        options.keys, options.virtual_time > 0 ? KeyFeeder::Clock::kSystemTimer
                                               : KeyFeeder::Clock::kWall);
    config.before_run.push_back([feeder](Emulator& emu) { feeder->Install(emu); });
    // Keep the feeder alive until the emulation thread has ended.
    config.after_run.push_back([feeder](Emulator& emu) { emu.keys.before_read = nullptr; });
  }
  if (!options.screenshot.empty()) {
    const std::string path = options.screenshot;
    auto result = options.screenshot_error;
    config.after_run.push_back([path, result](Emulator& emu) {
      std::string error;
      if (!WriteScreenshot(emu, path, error)) *result = error;
    });
  }
}

std::string ScriptHelpText() {
  return "\nKey scripts, screenshots and virtual time:\n"
         "  --keys SCRIPT         key script, or @FILE to read it from a file: key names\n"
         "                        F1-F10 UP DOWN LEFT RIGHT ENTER ESC TAB HOME END PGUP PGDN\n"
         "                        BKSP DEL 0-9 A-Z KP0-KP9 KP. KP- KP+ KP* KP/ ( ) . , -, with\n"
         "                        an optional CTRL+, SHIFT+ or ALT+ prefix; #0xCA pushes a\n"
         "                        device code; wait:MS waits MS ms. A key goes out once the\n"
         "                        firmware has taken the previous one and 300 ms have passed.\n"
         "                        Waits and gaps count wall-clock time, or system_timer time\n"
         "                        under --virtual-time (so scripted runs repeat exactly)\n"
         "  --screenshot FILE     at the end, write the shown page's top 640 x 480 as a PNG,\n"
         "                        coloured with the 3-3-2 palette of the window\n"
         "  --virtual-time[=N]    system_timer advances 1 ms every N instructions (default\n"
         "                        10000) instead of following the wall clock: runs become\n"
         "                        reproducible\n";
}

}  // namespace korvane::run
