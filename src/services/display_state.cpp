#include <string>

#include "services/display.h"
#include "services/machine.h"
#include "services/machine_state.h"

namespace korvane {

namespace {

// A picture page as runs of equal bytes (u16 length, byte), so a mostly plain screen costs a
// few bytes instead of a whole page.
void SavePage(StateArchive& ar, const uint8_t* page) {
  std::string runs;
  runs.reserve(3 * 64);
  for (int i = 0; i < kPageBytes;) {
    const uint8_t v = page[i];
    int n = 1;
    while (i + n < kPageBytes && n < 0xFFFF && page[i + n] == v) ++n;
    runs.push_back(static_cast<char>(n & 0xFF));
    runs.push_back(static_cast<char>(n >> 8));
    runs.push_back(static_cast<char>(v));
    i += n;
  }
  ar.Text(runs);
}

// Checks a saved page and, when loading, writes it byte by byte with relaxed atomic stores
// (the window may be copying the shown page meanwhile).
void LoadPage(StateArchive& ar, uint8_t* page) {
  const std::string runs = ar.Text("");
  if (!ar.ok()) return;
  size_t total = 0;
  for (size_t k = 0; k + 2 < runs.size(); k += 3)
    total += static_cast<uint8_t>(runs[k]) | static_cast<uint8_t>(runs[k + 1]) << 8;
  if (runs.size() % 3 != 0 || total != static_cast<size_t>(kPageBytes)) {
    ar.FailDamaged("a picture page does not decode to a whole page");
    return;
  }
  if (!ar.loading()) return;
  size_t at = 0;
  for (size_t k = 0; k < runs.size(); k += 3) {
    const size_t n = static_cast<uint8_t>(runs[k]) | static_cast<uint8_t>(runs[k + 1]) << 8;
    const uint8_t v = static_cast<uint8_t>(runs[k + 2]);
    for (size_t j = 0; j < n; ++j) __atomic_store_n(&page[at + j], v, __ATOMIC_RELAXED);
    at += n;
  }
}

}  // namespace

void SerializeDisplay(Machine& emu, StateArchive& ar) {
  DisplayState& d = emu.display;
  ar.Match(d.mode, "the video mode differs (option -v)");
  ar.Match(d.packed, "the video mode differs (option -v)");
  ar.Value(d.seq_index);
  ar.Value(d.seq);
  ar.Value(d.gfx_index);
  ar.Value(d.gfx);
  ar.Value(d.crt_index);
  ar.Value(d.latch);
  ar.Ranged<uint8_t>(d.write_mode, 0, 3, "write_mode");
  ar.Value(d.set_reset);
  ar.Value(d.mapped_set_reset);
  ar.Value(d.dac);
  ar.Value(d.dac_write_index);
  ar.Ranged<uint8_t>(d.dac_write_component, 0, 2, "dac_write_component");
  ar.Value(d.dac_read_index);
  ar.Ranged<uint8_t>(d.dac_read_component, 0, 2, "dac_read_component");
  ar.Value(d.colour_map);
  ar.Flag(d.eight_pixel, "eight_pixel");
  if (ar.version() < 2) {
    // Version 1 did not keep the routine; the graphics mode register chose it last unless a
    // pixel-group write came after, which such a file cannot tell.
    if (ar.loading()) d.packed_write = PackedWriteOfModeRegister(d);
  } else {
    ar.Ranged<uint8_t>(d.packed_write, DisplayState::kPlaneWrite, DisplayState::kTwoColourExpand,
                       "packed_write");
  }
  const int shown = ar.ScalarRanged(d.shown.load(), 0, 1, "shown");
  const bool draw_b = ar.ScalarFlag(d.draw != nullptr && d.draw == d.page_b, "draw");
  if (ar.saving()) {
    SavePage(ar, d.page_a);
    SavePage(ar, d.page_b);
  } else {
    LoadPage(ar, d.page_a);
    LoadPage(ar, d.page_b);
  }
  if (ar.loading() && ar.ok()) {
    d.shown.store(shown);
    d.draw = draw_b ? d.page_b : d.page_a;
    DisplayRestoreRoutines(emu);
  }
}

}  // namespace korvane
