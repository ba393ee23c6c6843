// The fast core against the stepping loop's generic path: every program must end in the same
// state under both - registers, counters, memory, log - and stores into the text region must
// run changed the next time the word runs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "core/loop_control.h"
#include "platform/digest.h"
#include "services/native_handlers.h"
#include "support/snippet.h"

namespace korvane {
namespace {

using test::RunSnippet;
using test::SnippetOptions;

// Everything a run leaves that the two loops must agree on.
struct EndState {
  std::vector<uint32_t> words;  // registers, ip, counters, cc, faults
  std::string memory;           // digest of every region's storage
  std::string log;              // without timings and the temporary folder's name
  bool ended_by_exit = false;
};

EndState Capture(test::SnippetRun& e) {
  EndState s;
  for (unsigned n = 0; n < 32; ++n) s.words.push_back(ReadReg(e.cpu, n));
  const CpuState& c = e.cpu;
  // The stepping loop clears length before its hook, so a run that ends at the fetch differs
  // there; the plain loop keeps the last instruction's length, as it always has.
  for (uint32_t v : {c.ip, e.ended_by_exit ? 0 : c.length, c.instr_word, c.cc, uint32_t(c.icount),
                     uint32_t(c.fast_reg), uint32_t(c.fast_lit), uint32_t(c.addo_count),
                     uint32_t(c.addi_count), uint32_t(e.run.fault_count), uint32_t(e.run.executed)})
    s.words.push_back(v);
  Sha256 sha;
  for (int n = 1; n <= kRegionSlots; ++n)
    if (e.mem.regions[n].host) sha.Update(e.mem.regions[n].host, e.mem.regions[n].size);
  s.memory = DigestHex(sha.Finish());
  std::string log = e.LogText();
  for (size_t at; !e.project_dir.empty() && (at = log.find(e.project_dir)) != std::string::npos;)
    log.replace(at, e.project_dir.size(), "DIR");
  s.log = std::regex_replace(log, std::regex("Elapsed time.*|Time/Instr=.*|argv=0x[0-9a-f]+"), "");
  s.ended_by_exit = e.ended_by_exit;
  return s;
}

std::string Results(int words) {
  return "\t.bss\nresults:\n\t.space " + std::to_string(4 * words) + "\n";
}

// Each REG form with local, global and literal operands; its result goes to memory.
std::string AluProgram() {
  const char* ops[] = {
      "addo r4, r5, r6",    "addo 3, r4, r6",    "addi g0, r4, r6",    "addo 20, g0, r6",
      "addo r4, 3, r6",     "addi 7, r5, r6",    "subo 5, g0, r6",     "subi r4, g0, r6",
      "mulo r5, r4, r6",    "muli 3, g1, r6",    "and g0, r4, r6",     "andnot 7, g0, r6",
      "notand g0, r4, r6",  "xor r4, g0, r6",    "or 5, r4, r6",       "nor g0, r4, r6",
      "xnor g0, r4, r6",    "not g0, r6",        "ornot r4, g0, r6",   "notor r4, g0, r6",
      "nand r4, g0, r6",    "setbit 31, r4, r6", "clrbit 3, g0, r6",   "notbit r5, g0, r6",
      "shlo 4, g0, r6",     "shro r5, g0, r6",   "shri 3, g1, r6",     "shli 5, r4, r6",
      "cmpinco r4, g0, r6", "cmpdeco 3, r4, r6", "cmpinci r4, g1, r6", "cmpdeci g1, r4, r6",
      "divo r5, g0, r6",    "remo 7, g0, r6",    "divi r5, g1, r6",    "remi 6, g1, r6",
      "modi r5, g1, r6",    "divo 0, g0, r6",    "divi g2, g3, r6",    "remi g2, g3, r6",
      "mov g0, r6",         "mov 17, r6",        "cmpo r4, g0",        "testl r6",
      "cmpi g1, 3",         "testge r6",         "chkbit 4, g0",       "teste r6",
      "alterbit 9, g0, r6", "cmpo 3, 3",         "testne r6",          "alterbit 1, r4, r6",
      "movl g0, r6",        "testno r6",         "testo r6",           "testle r6",
  };
  std::string body =
      "\tldconst 0x12345678, g0\n\tldconst 0xFFFFFF9C, g1\n\tsubo 1, 0, g2\n\tldconst 0x80000000, "
      "g3\n"
      "\tldconst 0x9abc, r4\n\tmov 7, r5\n";
  int i = 0;
  for (const char* op : ops)
    body += std::string("\t") + op + "\n\tst r6, results+" + std::to_string(4 * i++) + "\n";
  return body + Results(i);
}

// Every COBR and CTRL condition, taken and not, folded into a hash in g0; the outer loop runs
// past a system_timer check point.
std::string BranchProgram() {
  const char* ops[] = {"cmpobg 3, g1",  "cmpobe 3, g1",  "cmpobge 3, g1", "cmpobl 3, g1",
                       "cmpobne 3, g1", "cmpoble 3, g1", "cmpibno 3, g1", "cmpibg g2, g1",
                       "cmpibe 3, g1",  "cmpibge 3, g1", "cmpibl g2, g1", "cmpibne 3, g1",
                       "cmpible 3, g1", "cmpibo 3, g1",  "bbc 1, g1",     "bbs g1, g2"};
  const char* ctrl[] = {"bno", "bg", "be", "bge", "bl", "bne", "ble", "bo"};
  std::string body = "\tmov 0, g0\n\tldconst 3000, r8\nouter:\n\tmov 0, g1\n\tmov 5, g2\nloop:\n";
  int k = 0;
  auto fold = [&](const std::string& branch) {
    std::string l = "t" + std::to_string(k++);
    body += "\t" + branch + l + "\n\taddo 1, g0, g0\n" + l + ":\n\tmulo 31, g0, g0\n";
  };
  for (const char* op : ops) fold(std::string(op) + ", ");
  for (const char* c : ctrl) {
    body += "\tcmpi g1, 4\n";
    fold(std::string(c) + " ");
  }
  return body +
         "\taddo 1, g1, g1\n\tcmpobge 7, g1, loop\n\tsubo 1, r8, r8\n\tcmpobne 0, r8, outer\n"
         "\t.data\n\t.globl system_timer\nsystem_timer:\n\t.word 0\n";
}

// Every addressing mode and access size, storage and scratch addresses, calls and returns.
const char* kMemoryAndCalls = R"(
	lda buffer, g4
	mov 3, g5
	ldconst 0x11223344, g6
	ldconst 0xA5B6C7D8, g7
	st g6, buffer
	st g7, 4(g4)
	st g6, (g4)[g5*4]
	st g7, buffer+16[g5*2]
	st g6, 24(g4)[g5*8]
	stob g7, 33(g4)
	stos g6, 35(g4)
	stib g7, 38(g4)
	stis g6, 41(g4)
	stl g6, 48(g4)
	stt g4, 56(g4)
	stq g4, 72(g4)
	st g6, 12(fp)
	addo r3, 1, r3
	st r3, buffer+100
	stl g6, 16(fp)
	ldq (fp), g8
	st g11, buffer+104
	addo r4, r5, g13
	stob g13, 15(fp)
	st r3, buffer+108
	st g6, 0x100
	ld 0x100, r3
	ldob 33(g4), r4
	ldib 38(g4), r5
	ldos 35(g4), r6
	ldis 41(g4), r7
	ldl 48(g4), r8
	ldt 56(g4), r12
	ldq buffer[g5*4], g8
	ld (g4)[g5*4], g12
	lda 8(ip), g13
	mov 0, g1
	mov 30, g0
	call sum
	lda sum, g3
	mov 5, g0
	callx (g3)
	calls 13
	b snippet_end
sum:
	cmpobe 0, g0, sum_done
	addo g0, g1, g1
	subo 1, g0, g0
	call sum
sum_done:
	ret
	.bss
buffer:
	.space 128
)";

// Stores into the text: a word patched by st and by stob, and the displacement word of a long
// instruction; each changed word runs changed the second time round.
const char* kSelfModifying = R"(
	mov 0, g6
	mov 0, g7
	ld replacement, g5
again:
patched:
	mov 3, g0
changed_byte:
	mov 4, g1
long_form:
	ld first, g2
	addo g0, g6, g6
	addo g1, g6, g6
	addo g2, g7, g7
	cmpobne 0, g8, snippet_end
	mov 1, g8
	st g5, patched
	mov 9, g3
	stob g3, changed_byte
	lda second, g4
	st g4, long_form+4
	b again
replacement:
	mov 7, g0
	.data
first:
	.word 100
second:
	.word 2000
)";

// The stand-in for the intercepted routine x$init_rtc, and a byte it sets besides rtc_present.
const char* kInitRtcRoutine = R"(
	.globl x$init_rtc
x$init_rtc:
	ret
	.data
	.globl rtc_backup_ok
rtc_backup_ok:
	.word 0
)";

// A service writes into the text: x$init_rtc sets the byte rtc_present, here the low byte of
// `mov 0, g0`, which then reads `mov 1, g0`.
const std::string kServiceWritesText = std::string(R"(
	mov 0, g1
	mov 0, g2
again:
	.globl rtc_present
rtc_present:
	mov 0, g0
	addo g0, g1, g1
	cmpobne 0, g2, snippet_end
	mov 1, g2
	call x$init_rtc
	b again
)") + kInitRtcRoutine;

// The same through callx, and a store relative to ip (which runs on the generic path) patching
// a word that has run before.
std::string ServiceThroughCallx() {
  std::string body = kServiceWritesText;
  body.replace(body.find("call x$init_rtc"), 15, "callx x$init_rtc");
  return body;
}
const char* kGenericStoreWritesText = R"(
	mov 0, g1
	mov 0, g2
	ld replacement, g5
again:
patched:
	mov 3, g0
	addo g0, g1, g1
	cmpobne 0, g2, snippet_end
	mov 1, g2
	st g5, -24(ip)  # patched: ip + 8 - 24
	b again
replacement:
	mov 7, g0
)";

// A store into a word further on in the straight line it runs in, which has been decoded
// already.
const char* kStoreAhead = R"(
	mov 0, g1
	ld replacement, g5
	st g5, ahead
	mov 1, g2
	addo g2, g1, g1
ahead:
	mov 3, g0
	b snippet_end
replacement:
	mov 7, g0
)";

// Calls and returns the loop makes itself, up to the faults that send them to the handlers.
const char* kEndlessRecursion = "down:\n\taddo 1, g0, g0\n\tcall down\n";
const char* kDamagedPfp = "\tcall sub\n\tb snippet_end\nsub:\n\tmov 0, r0\n\tret\n";
const char* kReturnOutsideText =
    "\tcall sub\n\tb snippet_end\nsub:\n\tldconst 0x40002, g5\n\tst g5, 8(r0)\n\tret\n";
const char* kReturnOffWord =
    "\tcall sub\n\tb snippet_end\nsub:\n\tld 8(r0), g5\n\taddo 2, g5, g5\n"
    "\tst g5, 8(r0)\n\tret\n";
const std::string kInterceptedInALoop = std::string(R"(
	mov 0, g1
	mov 0, g7
again:
	.globl rtc_present
rtc_present:
	mov 0, g0
	addo g0, g1, g1
	addo 1, g7, g7
	lda x$init_rtc, g6
	callx (g6)
	call x$init_rtc
	cmpobne 5, g7, again
	b snippet_end
)") + kInitRtcRoutine;

// Register groups and emul: overlapping groups, literals, then a group that does not fit (an
// operand fault that ends the run).
const char* kWideForms = R"(
	ldconst 0x11111111, r4
	ldconst 0x22222222, r5
	ldconst 0x33333333, r6
	ldconst 0x44444444, r7
	movl r4, g0
	movt r4, g4
	movq r4, r6
	movl 9, g8
	movq 17, g12
	ldconst 0xFFFFFFF0, g2
	emul g2, g2, g10
	emul 31, r5, r10
	movl r5, g0
)";

// The loops of the speed benchmark, each behind a megabyte of text: one movl in ten, an
// intercepted call in eight, display writes in mode 1, code that patches itself every 100
// instructions, and nothing but generic forms.
std::string BehindLargeText(const std::string& loop) {
  return loop + "\t.space 1048576\n\t.globl x$readkeys\nx$readkeys:\n\tret\n" + Results(64);
}
const std::string kShapes[][2] = {
    {"movl in ten",
     "\tldconst 0x12345, g0\nloop:\n\taddo 1, r4, r4\n\tmovl g0, r6\n"
     "\taddo r4, r5, r5\n\tand 31, r4, r8\n\tst r5, results[r8*4]\n"
     "\tld results[r8*4], r9\n\taddo r9, g2, g2\n\txor g2, r6, g3\n"
     "\tsubo 1, g4, g4\n\tb loop\n"},
    {"intercepted call in eight",
     "loop:\n\taddo 1, r4, r4\n\taddo r4, r5, r5\n"
     "\tcallx x$readkeys\n\tand 31, r4, r6\n\taddo r6, g2, g2\n"
     "\txor g2, r5, g3\n\tsubo g0, g4, g4\n\tb loop\n"},
    {"display writes in mode 1",
     "\tldconst 0x900a0000, r10\n\tldconst 63, r11\nloop:\n"
     "\taddo 1, r4, r4\n\tand r11, r4, r5\n\tstob r4, (r10)[r5*1]\n"
     "\tldob (r10)[r5*1], r6\n\taddo r6, g2, g2\n\tb loop\n"},
    {"patches itself every 100",
     "\tld patched, r7\n\tld other, r8\n\txor r7, r8, r8\nouter:\n"
     "\tmov 10, r6\ninner:\npatched:\n\tmov 3, g0\n"
     "\taddo g0, r5, r5\n\tsubo 1, r6, r6\n\tcmpobne 0, r6, inner\n"
     "\tld patched, r7\n\txor r7, r8, r7\n\tst r7, patched\n"
     "\tb outer\nother:\n\tmov 7, g0\n"},
    {"stores into data in its text",
     "loop:\n\taddo 1, r4, r4\n\tst r4, text_data\n"
     "\taddo r4, r5, r5\n\tstob r5, text_data+5\n"
     "\tld text_data, r6\n\taddo r6, g2, g2\n\tb loop\n"
     "text_data:\n\t.word 0, 0\n"},
    {"generic forms only",
     "\tmov 7, r4\n\tldconst 1000, r5\nloop:\n\tmodi r4, r5, r6\n"
     "\tcmpinci r6, r5, r7\n\tcmpdeci r7, r4, r8\n\tmodi r8, r5, r9\n"
     "\taddo r9, r4, r4\n\tb loop\n"},
};

// A native routine writes into the text through its pointer: the file routine reads
// `mov 7, g0` from a file over the word `patched`, which has run before as `mov 3, g0`.
const std::string kFileReadIntoText = std::string(R"(
	lda request, g7
	ldconst 0x43, r4
	st r4, 4(g7)
	callx x$start_parse_dir_fileport
	lda name, r4
	st r4, 8(g7)
	callx x$open_fileport
	mov 0, g1
	b again
again:
patched:
	mov 3, g0
	addo g0, g1, g1
	cmpobne 0, g2, snippet_end
	mov 1, g2
	lda patched, r4
	st r4, 8(g7)
	mov 4, r4
	st r4, 12(g7)
	callx x$read_fileport
	b again
	.globl x$start_parse_dir_fileport
x$start_parse_dir_fileport:
	ret
	.globl x$open_fileport
x$open_fileport:
	ret
	.globl x$read_fileport
x$read_fileport:
	ret
	.data
	.globl file_errnum
file_errnum:
	.word 0
request:
	.space 48
name:
	.ascii "PATCH   BIN"
)");

TEST(FastCore, EndsEveryProgramAsTheGenericPathDoes) {
  struct Row {
    std::string name;
    std::string body;
    uint64_t budget;
    std::string executable = "";
    std::string options = "-v1";
  } rows[] = {
      {"alu", AluProgram(), 1000},
      {"branches", BranchProgram(), 100000},
      {"memory and calls", kMemoryAndCalls, 2000},
      {"self-modifying", kSelfModifying, 200},
      {"service writes text", kServiceWritesText, 200},
      {"service called by callx writes text", ServiceThroughCallx(), 200},
      {"generic store writes text", kGenericStoreWritesText, 200},
      {"store ahead in the straight line", kStoreAhead, 200},
      {"recursion until the stack overflows", kEndlessRecursion, 100000},
      {"return with a damaged pfp", kDamagedPfp, 20},
      {"return outside the text", kReturnOutsideText, 20},
      {"return into the middle of a word", kReturnOffWord, 20},
      {"intercepted routine called in a loop", kInterceptedInALoop, 500},
      {"budget ends between a compare and its branch",
       "\tmov 0, g0\nl:\n\taddo 1, g0, g0\n\tcmpi g0, 9\n\tbl l\n\tcmpo g0, 0\n\tbg l\n", 2000},
      {"store pair patching its own second word",
       "\tlda patched, g1\n\tld replacement, g5\n\tst g5, (g1)\npatched:\n\tmov 3, g0\n"
       "\tb snippet_end\nreplacement:\n\tmov 7, g0\n",
       20},
      {"budget ends between the two halves of a pair",
       "\tmov 0, g0\nl:\n\taddo 1, g0, g0\n\tshlo 16, g0, g1\n\tshro 16, g1, g1\n"
       "\tcmpi g0, 9\n\tbl l\n",
       3},
      {"undefined opcode after a loop",
       "\tmov 5, g0\nl:\n\tsubo 1, g0, g0\n\tcmpobne 0, g0, l\n"
       "\t.word 0x45000000\n",
       100},
      {"branch out of the text", "\t.word 0x08700000\n", 10},
      {"branches out of the text, not taken, then taken",
       "\tcmpo 1, 2\n\t.word 0x12700000\n\tmov 5, g0\n\t.word 0x320C2FF0\n"
       "\tcmpi 1, 1\n\t.word 0x12700000\n",
       10},
      {"group past g15", "\tldq 0, g14\n", 10},
      {"running off the text", "\tmov 1, g0\n\tmov 2, g0\n", 10},
      {"wide register forms", kWideForms, 100, "", "-v1 -xi"},
      {"emul without the full instruction set", "\temul 3, 5, g0\n", 10},
      {"movl in ten behind a large text", BehindLargeText(kShapes[0][1]), 30000},
      {"intercepted call in eight behind a large text", BehindLargeText(kShapes[1][1]), 30000},
      {"display writes in mode 1 behind a large text", BehindLargeText(kShapes[2][1]), 30000},
      {"patches itself every 100 behind a large text", BehindLargeText(kShapes[3][1]), 30000},
      {"generic forms only behind a large text", BehindLargeText(kShapes[5][1]), 30000},
      {"stores into data in its text behind a large text", BehindLargeText(kShapes[4][1]), 30000},
      {"file routine reads into the text", kFileReadIntoText, 200},
      {"compiled encodings", "", 5000, test::FixturesDir() + "/encodings/encodings.out", "-v1 -xi"},
      {"compiled CoreMark", "", 3000000, KORVANE_SOURCE_DIR "/../shared/perf/coremark.out"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.executable.empty() && !std::filesystem::exists(row.executable)) {
      std::printf("skipped %s: %s is not there\n", row.name.c_str(), row.executable.c_str());
      continue;
    }
    // The fast core with pair records, without them (as a clang build runs), and the stepping
    // loop.
    EndState ends[3];
    std::vector<std::string> drives;
    for (int config : {0, 1, 2}) {
      const bool stepping = config == 2;
      SnippetOptions o;
      o.options = row.options;
      o.executable = row.executable;
      o.park_at_end = row.name != "running off the text";
      o.before_run = [stepping, config, &row, &drives](Emulator& e) {
        e.run.form_pairs = config == 0;
        e.run.virtual_time_instructions = 1000;  // the same system_timer in both runs
        if (row.name == "file routine reads into the text") {
          // PATCH.BIN on drive C holds the word of `mov 7, g0`.
          char folder[] = "/tmp/korvane_drive_XXXXXX";
          ASSERT_NE(::mkdtemp(folder), nullptr);
          const std::string drive = folder;
          e.files.host.drive_folder['C' - 'A'] = drive;
          NativeFileInit(e);
          const uint32_t mov7 = 0x5C801E07;
          std::FILE* f = std::fopen((drive + "/PATCH.BIN").c_str(), "wb");
          ASSERT_NE(f, nullptr);
          std::fwrite(&mov7, 4, 1, f);
          std::fclose(f);
          drives.push_back(drive);
        }
        if (stepping) e.run.step_hook.before = [](void*) { return false; };
      };
      auto emu = RunSnippet(row.body, row.budget, o);
      ends[config] = Capture(*emu);
      if (!stepping && row.name == "self-modifying") {
        EXPECT_EQ(emu->G(6), 3u + 4u + 7u + 9u);
        EXPECT_EQ(emu->G(7), 100u + 2000u);
      }
      if (!stepping && row.name == "intercepted routine called in a loop") {
        EXPECT_EQ(emu->G(1), 4u);  // rtc_present reads 1 from the second round on
      }
      if (!stepping && row.name == "file routine reads into the text") {
        EXPECT_EQ(emu->G(1), 3u + 7u);
      }
      if (!stepping && row.name == "wide register forms") {
        EXPECT_EQ(emu->G(10), 0x100u);  // 0xFFFFFFF0 squared: 0xFFFFFFE0'00000100
        EXPECT_EQ(emu->G(11), 0xFFFFFFE0u);
        EXPECT_EQ(emu->G(8), 9u);
        EXPECT_EQ(emu->G(9), 0u);
      }
      if (!stepping && row.name == "store ahead in the straight line") {
        EXPECT_EQ(emu->G(0), 7u);
      }
      if (!stepping && row.name == "store pair patching its own second word") {
        EXPECT_EQ(emu->G(0), 7u);
      }
      if (!stepping && row.name.find("writes text") != std::string::npos) {
        EXPECT_EQ(emu->G(1), row.name == "generic store writes text" ? 3u + 7u : 1u);
      }
    }
    for (const std::string& d : drives) std::filesystem::remove_all(d);
    for (int fast : {0, 1}) {
      SCOPED_TRACE(fast == 0 ? "with pairs" : "without pairs");
      EXPECT_EQ(ends[fast].words, ends[2].words);
      EXPECT_EQ(ends[fast].memory, ends[2].memory);
      EXPECT_EQ(ends[fast].log, ends[2].log);
      EXPECT_EQ(ends[fast].ended_by_exit, ends[2].ended_by_exit);
    }
  }
}

// A host stop made while the firmware runs nothing but instructions with handlers of their own,
// calls and returns included (so no other code runs after which the loop would look at the
// attention flag), ends the run at the next check point.
TEST(FastCore, HostStopDuringFastCallsEndsTheRunAtTheNextCheckPoint) {
  SnippetOptions o;
  std::thread host;
  uint64_t seen = 0;
  o.before_run = [&host, &seen](Emulator& e) {
    host = std::thread([&e, &seen] {
      while (PublishedInstructionTotal(e) < 3 * kTimerInterval) std::this_thread::yield();
      seen = PublishedInstructionTotal(e);
      e.run.control.RequestStop();
    });
  };
  // The budget only keeps a loop that misses the stop from running forever.
  auto emu = RunSnippet("loop:\n\tcall sub\n\tb loop\nsub:\n\tret\n", 2000000000, o);
  host.join();
  EXPECT_TRUE(emu->run.stopped_by_host);
  // What the host saw lags the loop by less than one interval.
  EXPECT_LE(emu->run.executed - seen, 2 * kTimerInterval);
}

}  // namespace
}  // namespace korvane
