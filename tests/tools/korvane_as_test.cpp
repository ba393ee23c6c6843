// Tests of the korvane-as command: output file, error reporting, listing and disassembly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

// AddressSanitizer and ThreadSanitizer reserve terabytes of address space for their shadow
// memory, so a build with either cannot run under an address-space limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVANE_SHADOW_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KORVANE_SHADOW_MEMORY 1
#endif
#endif

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Result {
  int status = -1;  // exit code; -1 when killed by a signal
  std::string out, err;
};

class KorvaneAs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("korvane_as_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(Path(name), std::ios::binary) << text;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // `limits`: shell commands run before the tool, such as a ulimit.
  Result Run(const std::string& args, const std::string& limits = "") {
    std::string cmd = "cd '" + dir_.string() + "' && " + limits + "'" KORVANE_AS_PATH "' " + args +
                      " >out.txt 2>err.txt </dev/null";
    int rc = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = Slurp(Path("out.txt"));
    r.err = Slurp(Path("err.txt"));
    return r;
  }

  fs::path dir_;
};

TEST_F(KorvaneAs, AssemblesLinksAndDisassembles) {
  Write("a.s", ".globl _start\n_start: call f\n b _start\n");
  Write("b.s", ".globl f\nf: ret\n");
  Result r = Run("-o fw.out --listing a.s b.s");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("00010000  08 00 00 09"));
  ASSERT_TRUE(fs::exists(Path("fw.out")));

  r = Run("--disassemble fw.out");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("   10000:\t09000008         \tcall\t10008 <f>\n"));
  EXPECT_THAT(r.out, HasSubstr("\tb\t10000 <_start>\n"));
  EXPECT_THAT(r.out, HasSubstr("   10008:\t0a000000         \tret\n"));
}

TEST_F(KorvaneAs, DefaultOutputAndAddressOptions) {
  Write("a.s", "nop_loop: b nop_loop\n.section .absd\n.word 0\n");
  Result r = Run("--text 0x20000 --absd 3145728 --entry nop_loop a.s");
  // nop_loop is not global: the entry must name a global symbol.
  EXPECT_NE(r.status, 0);
  EXPECT_THAT(r.err, HasSubstr("entry symbol nop_loop"));
  EXPECT_FALSE(fs::exists(Path("a.out")));

  Write("a.s", ".globl nop_loop\nnop_loop: b nop_loop\n");
  r = Run("--text 0x20000 --absd 3145728 --entry nop_loop a.s");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(Path("a.out")));
  r = Run("--disassemble a.out");
  EXPECT_THAT(r.out, HasSubstr("   20000:\t08000000"));
}

// Bad input: a clear message, a non-zero exit, no output file, never a crash.
TEST_F(KorvaneAs, ErrorsLeaveNoOutput) {
  Write("bad.s", "ret\n foo g0\n ld 0x10(r3)\n");
  Write("ok.s", "ret\n");
  struct Case {
    const char* args;
    const char* message;
    const char* why;
  } cases[] = {
      {"-o x.out bad.s", "bad.s:2: unknown mnemonic foo\nbad.s:3: wrong number of operands for ld",
       "every error of the source, each with file and line"},
      {"-o x.out missing.s", "cannot read missing.s", "missing input file"},
      {"-o x.out --text 0x1000g ok.s", "--text needs an address", "malformed address"},
      {"-o x.out --text 0x100000000 ok.s", "--text needs an address", "address beyond 32 bits"},
      {"-o x.out --text 0x10002 ok.s", "text address must be a multiple of 4", "unaligned text"},
      {"-o x.out --bogus ok.s", "unknown option --bogus", "unknown option"},
      {"-o", "-o needs a file name", "option without its value"},
      {"--disassemble garbage.bin", "garbage.bin: file too short", "not an executable"},
      {"--disassemble missing.out", "cannot read missing.out", "missing executable"},
  };
  Write("garbage.bin", "not a COFF file");
  for (const Case& c : cases) {
    Result r = Run(c.args);
    EXPECT_GT(r.status, 0) << c.why;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.why;
    EXPECT_FALSE(fs::exists(Path("x.out"))) << c.why;
  }
  // An error keeps an earlier good output as it was: nothing is half-written over it.
  ASSERT_EQ(Run("-o x.out ok.s").status, 0);
  std::string before = Slurp(Path("x.out"));
  EXPECT_NE(Run("-o x.out bad.s").status, 0);
  EXPECT_EQ(Slurp(Path("x.out")), before);
}

// A source that needs more memory than the host grants ends with a message, not an abort.
TEST_F(KorvaneAs, OutOfMemoryIsAnError) {
#ifdef KORVANE_SHADOW_MEMORY
  GTEST_SKIP() << "korvane-as is built with a sanitizer whose shadow memory needs more address "
                  "space than any limit this test could set";
#endif
  std::string text;
  for (int i = 0; i < 250000; ++i) text += "ret;ret;ret;ret\n";  // a million statements
  Write("huge.s", text);
  Result r = Run("-o x.out huge.s", "ulimit -v 150000 && ");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("korvane-as: out of memory"));
  EXPECT_FALSE(fs::exists(Path("x.out")));
}

// A truncated or corrupted executable is disassembled as far as it goes, never crashing.
TEST_F(KorvaneAs, DisassembleDamagedExecutables) {
  Write("ok.s", ".globl _start\n_start: ld 0x12345678,g0\n ret\n");
  ASSERT_EQ(Run("-o ok.out ok.s").status, 0);
  std::string good = Slurp(Path("ok.out"));
  for (size_t cut : {size_t{60}, size_t{300}, good.size() - 10}) {
    Write("cut.out", good.substr(0, cut));
    Result r = Run("--disassemble cut.out");
    EXPECT_GE(r.status, 0) << "cut at " << cut << " must not crash";
  }
  std::string wild = good;
  for (size_t i = 8; i < 16; ++i) wild[i] = '\xff';  // symbol table offset and count far outside
  Write("wild.out", wild);
  Result r = Run("--disassemble wild.out");
  EXPECT_GE(r.status, 0);
  EXPECT_THAT(r.err, HasSubstr("symbol table outside the file"));
}

TEST_F(KorvaneAs, Help) {
  Result r = Run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, HasSubstr("Usage: korvane-as"));
  EXPECT_THAT(r.out, HasSubstr("\n  or:  korvane-as --disassemble"))
      << "help2man's second synopsis";
  EXPECT_THAT(r.out, HasSubstr("--disassemble"));
  r = Run("");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("Usage: korvane-as"));
}

}  // namespace
