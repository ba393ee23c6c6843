// korvane-run's scripted serial lines: a COM port becomes a pseudo-terminal that korvane-run
// holds itself, so a script can queue what the firmware receives and keep what it sent.
#include "serial_lines.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "driver/emulator.h"
#include "platform/serial_port.h"
#include "runner.h"
#include "services/serial.h"

namespace korvane::run {

namespace {

constexpr size_t kMaxSendBytes = 1u << 20;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& text, std::string& out, std::string& error) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    char c = i + 1 < text.size() ? text[++i] : '\0';
    switch (c) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (hi >= 0 && lo >= 0) {
          out += static_cast<char>(hi * 16 + lo);
          i += 2;
          break;
        }
        [[fallthrough]];
      }
      default:
        error = "--serial-send: bad escape in '" + text + "' (\\r \\n \\t \\\\ or \\xHH)";
        return false;
    }
  }
  return true;
}

// One scripted line while the run lasts: the pseudo-terminal, and a thread that feeds the
// queued bytes in and collects what the firmware sends until it is told to stop.
struct LivePort {
  SerialLineOptions::Line line;
  PseudoTerminal pty;
  int stop_pipe[2] = {-1, -1};
  std::thread pump;
  size_t sent = 0;  // bytes of line.send written so far
  std::string received;

  ~LivePort() {
    Stop();
    ClosePseudoTerminal(&pty);
  }

  bool Open(std::string& error) {
    if (!OpenPseudoTerminal(&pty, &error) || ::pipe(stop_pipe) != 0) {
      error =
          "COM" + std::to_string(line.com) + ": cannot create a pseudo-terminal (" + error + ")";
      return false;
    }
    // What fits in the line's buffer goes now, so the firmware's first read finds it.
    ssize_t n = ::write(pty.master, line.send.data(), line.send.size());
    sent = n > 0 ? static_cast<size_t>(n) : 0;
    pump = std::thread([this] { Pump(); });
    return true;
  }

  void Pump() {
    char buffer[4096];
    for (;;) {
      pollfd fds[2] = {
          {pty.master, static_cast<short>(POLLIN | (sent < line.send.size() ? POLLOUT : 0)), 0},
          {stop_pipe[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents & POLLOUT) {
        ssize_t n = ::write(pty.master, line.send.data() + sent, line.send.size() - sent);
        if (n > 0) sent += static_cast<size_t>(n);
      }
      if (fds[0].revents & POLLIN) Drain(buffer, sizeof buffer);
      if (fds[1].revents) return;
    }
  }

  void Drain(char* buffer, size_t size) {
    ssize_t n;
    while ((n = ::read(pty.master, buffer, size)) > 0)
      received.append(buffer, static_cast<size_t>(n));
  }

  void Stop() {
    if (!pump.joinable()) return;
    char c = 0;
    (void)!::write(stop_pipe[1], &c, 1);
    pump.join();
    char buffer[4096];
    Drain(buffer, sizeof buffer);  // what arrived after the thread last looked
    for (int& fd : stop_pipe) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }
};

struct LivePorts {
  std::vector<std::unique_ptr<LivePort>> ports;
};

}  // namespace

bool TakeSerialOptions(std::vector<std::string>& args, SerialLineOptions& options,
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
    if (name != "--serial-send" && name != "--serial-capture") {
      rest.push_back(a);
      continue;
    }
    const bool send = name == "--serial-send";
    std::string value;
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
    } else if (i + 1 < args.size() && args[i + 1] != "--") {
      value = args[++i];
    } else {
      error = name + (send ? " needs N:TEXT" : " needs N:FILE");
      return false;
    }
    if (value.size() < 2 || value[0] < '1' || value[0] > '4' || value[1] != ':' ||
        (!send && value.size() == 2)) {
      error = name + " needs " + (send ? "N:TEXT" : "N:FILE") +
              " with N a COM number from 1 to 4, not '" + value + "'";
      return false;
    }
    const int com = value[0] - '0';
    SerialLineOptions::Line* line = nullptr;
    for (auto& l : options.lines)
      if (l.com == com) line = &l;
    if (!line) {
      options.lines.push_back({});
      line = &options.lines.back();
      line->com = com;
    }
    if (send) {
      std::string bytes;
      if (!Unescape(value.substr(2), bytes, error)) return false;
      line->send += bytes;
      if (line->send.size() > kMaxSendBytes) {
        error = "--serial-send: more than " + std::to_string(kMaxSendBytes) + " bytes for COM" +
                std::to_string(com);
        return false;
      }
    } else {
      // Made absolute now: relative to where korvane-run was started, as --log is.
      std::error_code ec;
      std::filesystem::path path = std::filesystem::absolute(value.substr(2), ec);
      line->capture_path = ec ? value.substr(2) : path.string();
    }
  }
  args.swap(rest);
  return true;
}

void InstallSerialOptions(const SerialLineOptions& options, RunnerConfig& config) {
  if (options.lines.empty()) return;
  auto live = std::make_shared<LivePorts>();
  auto result = options.error;
  const auto lines = options.lines;
  config.before_run.push_back([live, lines, result](Emulator& emu) {
    for (const auto& line : lines) {
      auto port = std::make_unique<LivePort>();
      port->line = line;
      std::string error;
      if (!port->Open(error)) {
        *result = error;
        // The firmware finds the port missing: the device path names nothing.
        emu.serial.device_path[line.com] = "/dev/null/korvane-no-line";
        continue;
      }
      emu.serial.device_path[line.com] = port->pty.slave_path;
      live->ports.push_back(std::move(port));
    }
  });
  config.after_run.push_back([live, result](Emulator&) {
    for (auto& port : live->ports) {
      port->Stop();
      const std::string& path = port->line.capture_path;
      if (path.empty()) continue;
      std::FILE* f = std::fopen(path.c_str(), "wb");
      bool ok = f && std::fwrite(port->received.data(), 1, port->received.size(), f) ==
                         port->received.size();
      if (f && std::fclose(f) != 0) ok = false;
      if (!ok && result->empty()) *result = "cannot write the serial capture file " + path;
    }
    live->ports.clear();
  });
}

std::string SerialHelpText() {
  return "\nScripted serial lines (COM N becomes a pseudo-terminal that korvane-run holds):\n"
         "  --serial-send N:TEXT  queue TEXT on COM N before the run starts; the firmware\n"
         "                        receives it as it reads the port (\\r \\n \\t \\\\ \\xHH)\n"
         "  --serial-capture N:FILE\n"
         "                        at the end, write everything the firmware sent on COM N\n"
         "                        to FILE\n";
}

}  // namespace korvane::run
