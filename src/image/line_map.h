// The address <-> file:line map of an executable, read from its COFF line-number tables and
// the function symbols with their .bf entries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace korvane {

struct ImageState;

struct SourcePlace {
  std::string file;
  uint32_t line = 0;
};

// A procedure that has line numbers: its symbol, source file and addresses [start, end).
struct LineProcedure {
  std::string name;
  std::string file;
  uint32_t start = 0, end = 0;
};

class LineMap {
 public:
  bool empty() const { return entries_.empty(); }
  void Clear();

  // The nearest entry at or below `address` within the same procedure; nullptr when unknown.
  const SourcePlace* Find(uint32_t address) const;
  // The first address of every entry for `line` of `file` (a file matches by its full name or
  // by the part after the last '/'), in address order.
  std::vector<uint32_t> AddressesOf(const std::string& file, uint32_t line) const;
  // The addresses [start, end) of the source line holding `address`: from its entry up to
  // the next entry or the procedure's end. False when the address has no line.
  bool LineRange(uint32_t address, uint32_t& start, uint32_t& end) const;
  // The procedure holding `address`, nullptr when none with line numbers does.
  const LineProcedure* ProcedureAt(uint32_t address) const;
  const std::vector<LineProcedure>& procedures() const { return procedures_; }
  // The source files named by entries, in order of first appearance.
  std::vector<std::string> Files() const;
  // The lowest line of `file` at or after `line` that has an entry; 0 when none does.
  uint32_t NextLineWithCode(const std::string& file, uint32_t line) const;
  // Splits "FILE:LINE" when FILE is a file the entries name (as SameSourceFile matches it);
  // `file` gets the name the entries use. False for any other text.
  bool ParseSourceLine(const std::string& text, std::string& file, uint32_t& line) const;
  // The first address of `line` of `file`, or of the next line that has code; false when no
  // line at or after it has any.
  bool AddressOfLine(const std::string& file, uint32_t line, uint32_t& address) const;

  // Building (the reader and tests): procedures first, then their entries in address order.
  void AddProcedure(LineProcedure procedure) { procedures_.push_back(std::move(procedure)); }
  void AddEntry(uint32_t address, uint32_t line);  // belongs to the last procedure added
  void Finish();                                   // sorts; call once every entry is in

 private:
  struct Entry {
    uint32_t address = 0;
    size_t procedure = 0;
    SourcePlace place;
  };
  const Entry* EntryAt(uint32_t address) const;

  std::vector<LineProcedure> procedures_;
  std::vector<Entry> entries_;
};

// Reads the .text line numbers of the executable `f` described by `image` (headers and symbol
// walk done) into `out`. An executable without line numbers gives an empty map. Returns false
// with `error` saying what is wrong when the tables are damaged; `out` is then empty.
bool ReadLineMap(std::FILE* f, const ImageState& image, LineMap& out, std::string& error);

// Whether `file` (as an entry names it) is `wanted` (as a user typed it): equal, or equal in
// the part after the last '/'.
bool SameSourceFile(const std::string& file, const std::string& wanted);

}  // namespace korvane
