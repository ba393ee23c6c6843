// Test support: whole firmware projects in a temporary folder, run by the built korvane-run.
#include "support/firmware_project.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/snippet.h"

extern char** environ;

namespace korvane::test {

namespace fs = std::filesystem;

namespace {

std::string MakeTempDir(const char* prefix) {
  std::string tmpl = std::string("/tmp/") + prefix + "_XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) {
    ADD_FAILURE() << "cannot create a temporary folder " << tmpl << ": " << std::strerror(errno);
    return "";
  }
  return buf.data();
}

// The child's environment as "NAME=value" strings.
std::vector<std::string> ChildEnvironment(const ChildEnv& env) {
  std::vector<std::string> text;
  for (char** e = environ; *e; ++e) {
    bool dropped = false;
    for (const auto& prefix : env.drop_prefixes)
      dropped = dropped || std::strncmp(*e, prefix.c_str(), prefix.size()) == 0;
    if (!dropped) text.push_back(*e);
  }
  text.insert(text.end(), env.set.begin(), env.set.end());
  return text;
}

// Starts korvane-run with standard output and error going to the two files; -1 on failure.
// Everything the child needs is prepared before the fork, so the child only calls what is safe
// between fork and exec in a process that may have threads.
pid_t Spawn(const std::vector<std::string>& args, const std::string& cwd, const ChildEnv& env,
            const std::string& out_path, const std::string& err_path) {
  std::vector<std::string> arg_text{KORVANE_RUN_PATH};
  arg_text.insert(arg_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : arg_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = ChildEnvironment(env);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t child = ::fork();
  if (child == 0) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
    int o = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) ::_exit(127);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (child < 0) ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(errno);
  return child;
}

int ExitStatus(int wait_status) { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

}  // namespace

std::vector<uint8_t> ToolRun::Dump(const std::string& name) const {
  std::istringstream lines(out);
  const std::string head = name + ": ";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(head, 0) != 0) continue;
    std::istringstream words(line.substr(head.size()));
    std::vector<uint8_t> bytes;
    for (std::string hex; words >> hex;)
      bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
    return bytes;
  }
  return {};
}

bool ToolRun::DumpWord(const std::string& name, size_t index, uint32_t* value) const {
  std::vector<uint8_t> bytes = Dump(name);
  if (bytes.size() < 4 * index + 4) return false;
  *value = WordAt(bytes, 4 * index);
  return true;
}

uint32_t WordAt(const std::vector<uint8_t>& b, size_t at) {
  if (b.size() < at + 4) return 0xDEADBEEF;
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

std::string StubRoutines(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += "\t.globl\tx$" + n + "\nx$" + n + ":\n\tret\n";
  return s;
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

ToolRun RunKorvaneRun(const std::vector<std::string>& args, const std::string& cwd,
                      const ChildEnv& env) {
  ToolRun r;
  const std::string scratch = MakeTempDir("korvane_tool");
  if (scratch.empty()) return r;
  const std::string out = scratch + "/stdout", err = scratch + "/stderr";
  pid_t child = Spawn(args, cwd, env, out, err);
  if (child > 0) {
    int status = 0;
    ::waitpid(child, &status, 0);
    r.status = ExitStatus(status);
    r.out = ReadHostFile(out);
    r.err = ReadHostFile(err);
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return r;
}

FirmwareProject::FirmwareProject(std::string name)
    : name_(std::move(name)), dir_(MakeTempDir("korvane_fw")) {}

FirmwareProject::~FirmwareProject() {
  if (pid_ > 0) {
    // Only when a test failed before its run ended: stop our own child.
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

void FirmwareProject::AddSource(const std::string& file_name, const std::string& text) {
  sources_.push_back({file_name, text});
}

void FirmwareProject::AddSnippet(const std::string& body) {
  AddSource(name_ + ".s", SnippetSource(body, true));
}

bool FirmwareProject::Assemble(const as::LinkOptions& link) {
  exe_ = as::AssembleAndLink(sources_, link);
  if (!exe_.ok()) {
    std::string why;
    for (const auto& d : exe_.errors) why += d.ToString() + "\n";
    ADD_FAILURE() << "the firmware does not assemble:\n" << why;
    return false;
  }
  std::ofstream(Path(name_ + ".out"), std::ios::binary)
      .write(reinterpret_cast<const char*>(exe_.file.data()),
             static_cast<std::streamsize>(exe_.file.size()));
  WriteFile(name_ + ".xcl", "");
  WriteFile(name_ + ".mem", "");
  return true;
}

uint32_t FirmwareProject::Sym(const std::string& name) const {
  auto it = exe_.symbols.find(name);
  if (it == exe_.symbols.end()) {
    ADD_FAILURE() << "no symbol " << name << " in the firmware";
    return 0;
  }
  return it->second;
}

void FirmwareProject::WriteProject(const std::string& line) const {
  WriteFile(name_ + ".tvx", line + "\n");
}

void FirmwareProject::WriteFile(const std::string& file, const std::string& text) const {
  std::ofstream(Path(file), std::ios::binary) << text;
}

ToolRun FirmwareProject::Run(const std::vector<std::string>& args, const ChildEnv& env) {
  if (!Start(args, env)) return ToolRun{};
  return Finish();
}

bool FirmwareProject::Start(const std::vector<std::string>& args, const ChildEnv& env) {
  if (pid_ > 0) {
    ADD_FAILURE() << "a run of this project is still going";
    return false;
  }
  std::vector<std::string> all{"--log", LogPath()};
  all.insert(all.end(), args.begin(), args.end());
  pid_ = Spawn(all, "", env, Path("stdout.txt"), Path("stderr.txt"));
  ended_ = false;
  ended_status_ = -1;
  return pid_ > 0;
}

bool FirmwareProject::Ended() {
  if (ended_) return true;
  if (pid_ <= 0) return true;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
  pid_ = -1;
  ended_ = true;
  ended_status_ = status;
  return true;
}

ToolRun FirmwareProject::Finish() {
  int status = ended_status_;
  if (!ended_ && pid_ > 0) {
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  ended_ = false;
  return Collect(status);
}

ToolRun FirmwareProject::Collect(int wait_status) const {
  ToolRun r;
  r.status = wait_status == -1 ? -1 : ExitStatus(wait_status);
  r.out = ReadFile("stdout.txt");
  r.err = ReadFile("stderr.txt");
  r.log = ReadHostFile(LogPath());
  return r;
}

}  // namespace korvane::test
