// Intercept dispatch: calls to intercepted firmware routines run native handlers; also the
// x$cleartext service and the real-time clock, which are small enough to live here.
#include "services/intercept.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/run_counts.h"
#include "services/machine.h"
#include "services/native_handlers.h"

namespace korvane {

namespace {

constexpr uint32_t kRunsGuestToo = 2;

const IdentEntry* FindIntercept(const ImageState& im, uint32_t t) {
  int lo = 0, hi = std::min(im.intercept_last, static_cast<int>(im.intercepts.size()) - 1);
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    const IdentEntry* e = im.intercepts[mid];
    if (t < e->start) {
      hi = mid - 1;
    } else if (t <= e->end) {
      return e;
    } else {
      lo = mid + 1;
    }
  }
  return nullptr;
}

// -di: one line per intercepted call, with the registers handlers read their arguments from.
void LogIntercept(Machine& emu, const IdentEntry& e, uint32_t t) {
  const char* action = e.handler == nullptr       ? "skipped"
                       : e.flags == kRunsGuestToo ? "handler, then guest"
                                                  : "handler";
  const uint32_t* g = emu.cpu.g;
  emu.log.Printf(
      "INTERCEPT %s at IP=%08lX target=%08lX (%s) g0=%08lX g6=%08lX g7=%08lX "
      "g9=%08lX\n",
      e.name, static_cast<unsigned long>(emu.cpu.ip), static_cast<unsigned long>(t), action,
      static_cast<unsigned long>(g[0]), static_cast<unsigned long>(g[6]),
      static_cast<unsigned long>(g[7]), static_cast<unsigned long>(g[9]));
}

// A handler run while a profile counts (it shows the handler as a leaf of its own, with the
// host time it took) or a debugger watches data (it names the routine as the accessor of what
// it reads and writes).
void RunHandlerObserved(Machine& emu, const IdentEntry& e, uint32_t target) {
  emu.mem.host_watch.routine = e.name;
  if (emu.run.counts) {
    const auto start = std::chrono::steady_clock::now();
    e.handler(emu);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now() - start);
    emu.run.counts->Native(target, e.name, static_cast<uint64_t>(ns.count()));
  } else {
    e.handler(emu);
  }
  emu.mem.host_watch.routine = nullptr;
}

}  // namespace

uint32_t CheckInterceptCall(Machine& emu, uint32_t target) {
  const ImageState& im = emu.image;
  if (im.intercept_last < 0) return target;
  const IdentEntry* e = FindIntercept(im, target);
  if (!e) return target;
  ++emu.run.intercepted_calls;
  if (emu.opt.di) LogIntercept(emu, *e, target);

  if (e->handler) {
    if (__builtin_expect(emu.run.counts == nullptr && !emu.mem.host_watch.active, 1)) {
      e->handler(emu);
    } else {
      RunHandlerObserved(emu, *e, target);
    }
  }

  if (!emu.intercept.spy_redirect.empty()) {
    std::string spy;
    spy.swap(emu.intercept.spy_redirect);  // used once, empty again whatever happens next
    uint32_t address = LookupIdent(emu, spy.c_str());
    if (emu.opt.di) {
      emu.log.Printf("INTERCEPT %s redirected to %s at %08lX%s\n", e->name, spy.c_str(),
                     static_cast<unsigned long>(address), address ? "" : " (absent, skipped)");
    }
    if (address != 0) return address;
  }
  if (e->flags == kRunsGuestToo) return target;
  if (!e->handler) emu.cpu.g[0] = emu.cpu.g[6] = emu.cpu.g[9] = 0;
  return 0;
}

void NativeClearText(Machine& emu) {
  // Tells the firmware it runs under the emulator.
  uint32_t one = 1;
  if (emu.vars.navigate_msg_mode) std::memcpy(emu.vars.navigate_msg_mode, &one, 4);
  if (emu.vars.korvane_active) *emu.vars.korvane_active = 3;
}

void NativeInitRtc(Machine& emu) {
  // The emulated clock is present and its backup is good; it offers no time.
  GuestWrite8(emu.mem, LookupIdent(emu, "rtc_present"), 1);
  GuestWrite8(emu.mem, LookupIdent(emu, "rtc_backup_ok"), 1);
}

void Machine::InstallMachineHooks() {
  hooks.ctx = this;
  hooks.intercept_call = [](void* ctx, uint32_t target) {
    return CheckInterceptCall(*static_cast<Machine*>(ctx), target);
  };
  hooks.intercepts = [](void* ctx, uint32_t target) {
    const ImageState& im = static_cast<Machine*>(ctx)->image;
    return im.intercept_last >= 0 && FindIntercept(im, target) != nullptr;
  };
  hooks.describe_address = [](void* ctx, uint32_t address) {
    DescribeAddress(*static_cast<Machine*>(ctx), address);
  };
  hooks.find_symbol = [](void* ctx, const std::string& name, uint32_t* address) {
    const auto& symbols = static_cast<Machine*>(ctx)->image.symbols;
    auto it = symbols.find(name);
    if (it == symbols.end()) return false;
    *address = it->second;
    return true;
  };
  hooks.name_address = [](void* ctx, uint32_t address, std::string* name, uint32_t* offset) {
    return NameAddress(*static_cast<Machine*>(ctx), address, *name, *offset);
  };
  hooks.source_line = [](void* ctx, uint32_t address, std::string* place, uint32_t* start,
                         uint32_t* end) {
    const LineMap& lines = static_cast<Machine*>(ctx)->image.lines;
    const SourcePlace* p = lines.Find(address);
    if (!p || !lines.LineRange(address, *start, *end)) return false;
    *place = p->file + ":" + std::to_string(p->line);
    return true;
  };
  hooks.find_source_line = [](void* ctx, const std::string& text, uint32_t* address) {
    const LineMap& lines = static_cast<Machine*>(ctx)->image.lines;
    std::string file;
    uint32_t line = 0;
    return lines.ParseSourceLine(text, file, line) && lines.AddressOfLine(file, line, *address);
  };
}

}  // namespace korvane
