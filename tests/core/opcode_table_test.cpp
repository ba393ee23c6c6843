// The opcode table: one entry per instruction, no opcode bound twice, lookups by mnemonic.
#include "core/opcode_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace korvane {
namespace {

TEST(OpcodeTable, ListsEachInstructionOnceBetweenPlaceholderAndEndMarker) {
  const OpcodeEntry* t = OpcodeTable();
  EXPECT_STREQ(t[0].mnemonic, "dummy0");
  EXPECT_EQ(t[0].opcode, 0);
  EXPECT_STREQ(t[kInstructionCount + 1].mnemonic, "");
  std::set<std::string> names;
  std::set<int> opcodes;
  for (int i = 1; i <= kInstructionCount; ++i) {
    names.insert(t[i].mnemonic);
    opcodes.insert(t[i].opcode);
    EXPECT_NE(t[i].handler, nullptr) << t[i].mnemonic;
  }
  EXPECT_EQ(names.size(), 134u);
  EXPECT_EQ(opcodes.size(), 134u);
  uint8_t index[kOpcodeIndexSize];
  EXPECT_TRUE(BuildOpcodeIndex(index));
  EXPECT_EQ(index[0], 0);
  EXPECT_STREQ(t[index[0x590]].mnemonic, "addo");
  EXPECT_STREQ(t[index[0x45]].mnemonic, "dummy0");  // unlisted opcodes index entry 0
}

TEST(OpcodeTable, OpcodeOfSeparatesRegFromOtherFormats) {
  EXPECT_EQ(OpcodeOf(0x59000000u), 0x590u);  // addo, extension 0
  EXPECT_EQ(OpcodeOf(0x70000580u), 0x70Bu);  // divo: major 0x70, extension 0xB
  EXPECT_EQ(OpcodeOf(0x08000000u), 0x08u);   // b
  EXPECT_EQ(OpcodeOf(0x90000000u), 0x90u);   // ld
  EXPECT_EQ(FindMnemonic("cmpobge")->opcode, 0x33);
  EXPECT_EQ(FindMnemonic("movq")->size, 16);
  EXPECT_EQ(FindMnemonic("nosuch"), nullptr);
}

TEST(OpcodeTable, FindMnemonicFindsEveryInstructionAndNothingElse) {
  const OpcodeEntry* t = OpcodeTable();
  for (int i = 1; i <= kInstructionCount; ++i) {
    const OpcodeEntry* e = FindMnemonic(t[i].mnemonic);
    ASSERT_NE(e, nullptr) << t[i].mnemonic;
    EXPECT_STREQ(e->mnemonic, t[i].mnemonic);
  }
  for (const char* name : {"", "dummy0", "add", "addoo", "ADDO", "zzzz", "a"})
    EXPECT_EQ(FindMnemonic(name), nullptr) << name;
}

// The fast core's handler and the access traits agree with each row's format: loads and
// stores of the fast core are MEM forms that read or write, and an access moves `size` bytes.
TEST(OpcodeTable, FastHandlersAndTraitsAgreeWithTheRows) {
  const OpcodeEntry* t = OpcodeTable();
  for (int i = 1; i <= kInstructionCount; ++i) {
    const OpcodeEntry& e = t[i];
    SCOPED_TRACE(e.mnemonic);
    const bool loads = e.fast == kFastLd || e.fast == kFastLdob || e.fast == kFastLdib ||
                       e.fast == kFastLdos || e.fast == kFastLdis || e.fast == kFastLdGroup;
    const bool stores =
        e.fast == kFastSt || e.fast == kFastStob || e.fast == kFastStos || e.fast == kFastStGroup;
    if (loads) {
      EXPECT_EQ(e.traits, kTraitLoad);
    }
    if (stores) {
      EXPECT_EQ(e.traits, kTraitStore);
    }
    if (e.traits & (kTraitLoad | kTraitStore)) {
      EXPECT_EQ(e.format, kFormatMem);
    }
    if (e.fast == kFastLdGroup || e.fast == kFastStGroup || e.fast == kFastMovGroup) {
      EXPECT_GE(e.size, 8);
    }
    EXPECT_EQ(&EntryOfOpcode(e.opcode), &e);
  }
  EXPECT_EQ(&EntryOfOpcode(0x45), &t[0]);  // unlisted
  for (const char* call : {"call", "callx", "calls"})
    EXPECT_EQ(FindMnemonic(call)->traits, kTraitCall) << call;
}

}  // namespace
}  // namespace korvane
