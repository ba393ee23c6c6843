// The debugger window and the breakpoints dialog.
#include "shell/debugger_window.h"

#include <QAction>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/debugger.h"
#include "core/disassembler.h"
#include "driver/emulator.h"
#include "shell/source_view.h"

namespace korvane::shell {

namespace {

constexpr int kRegisterRows = 17;      // r0-r15 beside g0-g15, then ip and cc
constexpr int kLinesBefore = 12;       // disassembly lines shown above ip
constexpr int kLinesAfter = 20;        // and from ip on
constexpr uint32_t kLabelReach = 256;  // a procedure start this close above ip starts the view
constexpr int kMemoryRows = 16;
constexpr int kMemoryColumns = 16;
constexpr int kIpIndex = 32, kCcIndex = 33;
// The run-to-cursor action among the command actions (after DebugCommand's values).
constexpr int kRunToCursorAction = 100;

QString Hex32(uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')); }

QTableWidgetItem* Cell(const QString& text, bool editable = false) {
  auto* item = new QTableWidgetItem(text);
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (editable) flags |= Qt::ItemIsEditable;
  item->setFlags(flags);
  return item;
}

QTableWidget* Table(int rows, int columns, QWidget* parent) {
  auto* t = new QTableWidget(rows, columns, parent);
  t->verticalHeader()->hide();
  t->horizontalHeader()->setStretchLastSection(true);
  t->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 4);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  return t;
}

// A changed value in red and bold, in the table's own (fixed) font: an item's font() is the
// application's until one is set.
void Mark(QTableWidgetItem* item, bool changed, const QFont& table_font) {
  QFont f = table_font;
  f.setBold(changed);
  item->setFont(f);
  item->setForeground(changed ? QBrush(Qt::red) : QBrush());
}

// Register value n: 0-15 r0-r15, 16-31 g0-g15, 32 ip, 33 cc.
uint32_t RegisterValue(const CpuState& cpu, int n) {
  if (n < 32) return ReadReg(cpu, static_cast<unsigned>(n));
  return n == kIpIndex ? cpu.ip : cpu.cc;
}

}  // namespace

DebuggerWindow::DebuggerWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(tr("Korvane Debugger"));
  auto* top = new QVBoxLayout(this);

  // Commands: buttons, and shortcuts that act only while this window has the focus, since every
  // key of the main window belongs to the device.
  auto* buttons = new QHBoxLayout;
  struct Def {
    DebugCommand id;
    QString text;
    QKeySequence key;
  } defs[] = {
      {DebugCommand::kPauseContinue, tr("Pause/Continue"), QKeySequence(Qt::Key_F5)},
      {DebugCommand::kStep, tr("Step"), QKeySequence(Qt::Key_F11)},
      {DebugCommand::kStepOver, tr("Step Over"), QKeySequence(Qt::Key_F10)},
      {DebugCommand::kStepOut, tr("Step Out"), QKeySequence(Qt::SHIFT | Qt::Key_F11)},
  };
  for (const Def& d : defs) {
    auto* a = new QAction(d.text, this);
    a->setShortcut(d.key);
    a->setShortcutContext(Qt::WindowShortcut);
    const DebugCommand id = d.id;
    connect(a, &QAction::triggered, this, [this, id] {
      if (command) command(id);
    });
    addAction(a);
    actions_[static_cast<int>(id)] = a;
    auto* b = new QToolButton(this);
    b->setDefaultAction(a);
    buttons->addWidget(b);
  }
  auto* run_to_cursor = new QAction(tr("Run to Cursor"), this);
  run_to_cursor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F10));
  run_to_cursor->setShortcutContext(Qt::WindowShortcut);
  connect(run_to_cursor, &QAction::triggered, this, &DebuggerWindow::RunToCursor);
  addAction(run_to_cursor);
  actions_[kRunToCursorAction] = run_to_cursor;
  {
    auto* b = new QToolButton(this);
    b->setDefaultAction(run_to_cursor);
    buttons->addWidget(b);
  }
  auto* toggle = new QAction(tr("Toggle Breakpoint"), this);
  toggle->setShortcut(QKeySequence(Qt::Key_F9));
  toggle->setShortcutContext(Qt::WindowShortcut);
  connect(toggle, &QAction::triggered, this, [this] {
    QTableWidgetItem* item = disassembly_->item(disassembly_->currentRow(), 0);
    if (item && item->data(Qt::UserRole).isValid())
      ToggleBreakpoint(item->data(Qt::UserRole).toUInt());
  });
  addAction(toggle);
  top->addLayout(buttons);
  // The state and the end's details wrap instead of widening the window past the screen.
  state_ = new QLabel(this);
  state_->setWordWrap(true);
  state_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  state_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(state_);

  // Where and why the run ended, and what to do next; shown only then.
  end_panel_ = new QWidget(this);
  auto* end_layout = new QHBoxLayout(end_panel_);
  end_layout->setContentsMargins(0, 0, 0, 0);
  end_details_ = new QLabel(end_panel_);
  end_details_->setWordWrap(true);
  end_details_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  end_details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  end_details_->setStyleSheet(QStringLiteral("color: #b00000"));
  end_layout->addWidget(end_details_, 1);
  auto end_button = [this, end_layout](const QString& text, std::function<void()>* action) {
    auto* b = new QPushButton(text, end_panel_);
    connect(b, &QPushButton::clicked, this, [action] {
      if (*action) (*action)();
    });
    end_layout->addWidget(b);
  };
  end_button(tr("&Restart"), &restart);
  end_button(tr("Open &Log"), &open_log);
  end_button(tr("&Close"), &close_program);
  end_panel_->hide();
  top->addWidget(end_panel_);

  auto* split = new QSplitter(Qt::Horizontal, this);
  top->addWidget(split, 1);

  // Left: registers over the call stack and the watch list.
  auto* left = new QWidget(split);
  auto* left_layout = new QVBoxLayout(left);
  left_layout->setContentsMargins(0, 0, 0, 0);
  registers_ = Table(kRegisterRows, 4, left);
  registers_->setHorizontalHeaderLabels({tr("Reg"), tr("Value"), tr("Reg"), tr("Value")});
  registers_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  connect(registers_, &QTableWidget::cellChanged, this, &DebuggerWindow::RegisterEdited);
  {
    // Every value whole: the columns are as wide as eight bold hex digits (and the widest name),
    // and the splitter cannot squeeze the table below them.
    const QFontMetrics fm(registers_->font());
    const QFontMetrics head(registers_->horizontalHeader()->font());
    const int pad = 2 * fm.horizontalAdvance(QLatin1Char('0'));
    int name = 0;
    for (int n = 0; n < 32; ++n)
      name = std::max(name, fm.horizontalAdvance(QString::fromLatin1(RegisterName(n))));
    name = std::max(name, head.horizontalAdvance(tr("Reg"))) + pad;
    // A changed value is bold, and must stay whole too.
    QFont bold = registers_->font();
    bold.setBold(true);
    const int value = std::max(QFontMetrics(bold).horizontalAdvance(QStringLiteral("00000000")),
                               head.horizontalAdvance(tr("Value"))) +
                      pad;
    registers_->horizontalHeader()->setStretchLastSection(false);
    registers_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int c = 0; c < 4; ++c) registers_->setColumnWidth(c, c % 2 ? value : name);
    registers_->setMinimumWidth(2 * (name + value) + 2 * registers_->frameWidth() +
                                registers_->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    // and every row in view, so no value hides below the table's edge.
    registers_->setMinimumHeight(
        kRegisterRows * registers_->verticalHeader()->defaultSectionSize() +
        registers_->horizontalHeader()->sizeHint().height() + 2 * registers_->frameWidth());
  }
  left_layout->addWidget(registers_, 3);
  edit_status_ = new QLabel(left);
  edit_status_->setWordWrap(true);
  edit_status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  left_layout->addWidget(edit_status_);
  left_layout->addWidget(new QLabel(tr("Call stack"), left));
  stack_ = new QListWidget(left);
  stack_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  left_layout->addWidget(stack_, 1);
  left_layout->addWidget(new QLabel(tr("Last instructions"), left));
  history_ = new QListWidget(left);
  history_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  left_layout->addWidget(history_, 1);
  auto* watch_row = new QHBoxLayout;
  watch_row->addWidget(new QLabel(tr("Watch"), left));
  watch_where_ = new QLineEdit(left);
  watch_where_->setPlaceholderText(tr("symbol or address"));
  connect(watch_where_, &QLineEdit::returnPressed, this, [this] {
    if (AddWatch(watch_where_->text())) watch_where_->clear();
  });
  watch_row->addWidget(watch_where_);
  left_layout->addLayout(watch_row);
  watches_ = Table(0, 3, left);
  watches_->setHorizontalHeaderLabels({tr("Symbol"), tr("Address"), tr("Value")});
  left_layout->addWidget(watches_, 1);

  // Right: disassembly over memory.
  auto* right = new QWidget(split);
  auto* right_layout = new QVBoxLayout(right);
  right_layout->setContentsMargins(0, 0, 0, 0);
  auto* goto_row = new QHBoxLayout;
  goto_row->addWidget(new QLabel(tr("Go to"), right));
  goto_where_ = new QLineEdit(right);
  goto_where_->setPlaceholderText(tr("address or symbol"));
  connect(goto_where_, &QLineEdit::returnPressed, this, [this] { GoTo(goto_where_->text()); });
  goto_row->addWidget(goto_where_);
  right_layout->addLayout(goto_row);
  disassembly_ = Table(0, 3, right);
  disassembly_->setHorizontalHeaderLabels({QString(), tr("Address"), tr("Instruction")});
  disassembly_->setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(disassembly_, &QTableWidget::cellClicked, this, [this](int row, int column) {
    QTableWidgetItem* item = disassembly_->item(row, 0);
    if (column == 0 && item && item->data(Qt::UserRole).isValid())
      ToggleBreakpoint(item->data(Qt::UserRole).toUInt());
  });
  right_layout->addWidget(disassembly_, 3);
  auto* memory_row = new QHBoxLayout;
  memory_row->addWidget(new QLabel(tr("Memory"), right));
  memory_where_ = new QLineEdit(right);
  memory_where_->setPlaceholderText(tr("address or symbol"));
  connect(memory_where_, &QLineEdit::returnPressed, this,
          [this] { ShowMemory(memory_where_->text()); });
  memory_row->addWidget(memory_where_);
  memory_status_ = new QLabel(right);
  memory_row->addWidget(memory_status_, 1);
  right_layout->addLayout(memory_row);
  memory_ = Table(kMemoryRows, kMemoryColumns + 2, right);
  QStringList heads{tr("Address")};
  for (int i = 0; i < kMemoryColumns; ++i) heads << QStringLiteral("%1").arg(i, 0, 16);
  heads << tr("ASCII");
  memory_->setHorizontalHeaderLabels(heads);
  memory_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  connect(memory_, &QTableWidget::cellChanged, this, &DebuggerWindow::MemoryEdited);
  right_layout->addWidget(memory_, 2);
  memory_->resizeColumnsToContents();
  memory_status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  // The lists give way first on a low screen, so the registers stay whole.
  for (QWidget* w : {static_cast<QWidget*>(stack_), static_cast<QWidget*>(history_),
                     static_cast<QWidget*>(watches_), static_cast<QWidget*>(memory_),
                     static_cast<QWidget*>(disassembly_)})
    w->setMinimumHeight(3 * fontMetrics().height());
  AddSourceViews(split);
  resize(900, 640);
  FitScreen();
  Refresh();
}

void DebuggerWindow::FitScreen() {
  QScreen* screen = this->screen();
  if (!screen) return;
  const QSize area = screen->availableGeometry().size();
  setMaximumSize(area);
  resize(size().boundedTo(area));
}

void DebuggerWindow::Attach(Emulator* emu) {
  emu_ = emu;
  standing_ = false;
  ended_ = false;
  end_panel_->hide();
  have_last_regs_ = false;
  last_watch_.clear();
  symbols_filled_ = false;
  source_->Reset();
  Refresh();
}

bool DebuggerWindow::Standing() const {
  if (!emu_ || !emu_->debugger) return false;
  return ended_ || (standing_ && emu_->debugger->paused_in_stop());
}

void DebuggerWindow::ShowEnded(const QString& summary, const QString& details) {
  ended_ = true;
  end_details_->setText(details);
  end_panel_->show();
  Refresh(summary);
}

void DebuggerWindow::Refresh(const QString& stop_summary) {
  const bool standing = Standing();
  if (!emu_ || !emu_->debugger)
    state_->setText(tr("No firmware"));
  else if (ended_)
    state_->setText(stop_summary);
  else if (standing)
    state_->setText(stop_summary.isEmpty() ? tr("Stopped") : stop_summary);
  else
    state_->setText(tr("Running"));
  for (const auto& [id, a] : actions_)
    a->setEnabled(emu_ && emu_->debugger && !ended_ &&
                  (standing || id == static_cast<int>(DebugCommand::kPauseContinue)));
  if (!stop_summary.isEmpty()) goto_shown_ = false;  // a new stop shows ip again
  for (QWidget* w : {static_cast<QWidget*>(registers_), static_cast<QWidget*>(disassembly_),
                     static_cast<QWidget*>(memory_), static_cast<QWidget*>(stack_),
                     static_cast<QWidget*>(watches_), static_cast<QWidget*>(history_)})
    w->setEnabled(standing);
  if (!standing) return;
  filling_ = true;
  edit_status_->clear();
  RefreshRegisters();
  RefreshDisassembly();
  RefreshMemory();
  RefreshStack();
  RefreshWatches();
  RefreshHistory();
  RefreshSourceViews();
  filling_ = false;
}

void DebuggerWindow::RefreshHistory() {
  history_->clear();
  const std::string text = emu_->debugger->FormatHistory();
  if (text.empty()) {
    // The engine keeps it whenever it steps, the fast core's trail while it runs at full speed.
    history_->addItem(tr("No instructions have run yet."));
    return;
  }
  for (const QString& line :
       QString::fromStdString(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    history_->addItem(line);
  history_->scrollToBottom();
}

void DebuggerWindow::RefreshRegisters() {
  const CpuState& cpu = emu_->cpu;
  auto put = [&](int row, int column, const QString& name, int n) {
    const uint32_t v = RegisterValue(cpu, n);
    registers_->setItem(row, column, Cell(name));
    QTableWidgetItem* value = Cell(Hex32(v), !ended_);
    value->setData(Qt::UserRole, n);
    Mark(value, have_last_regs_ && last_regs_[n] != v, registers_->font());
    registers_->setItem(row, column + 1, value);
    last_regs_[n] = v;
  };
  for (int i = 0; i < 16; ++i) {
    put(i, 0, QString::fromLatin1(RegisterName(i)), i);
    put(i, 2, QString::fromLatin1(RegisterName(16 + i)), 16 + i);
  }
  put(16, 0, QStringLiteral("ip"), kIpIndex);
  put(16, 2, QStringLiteral("cc"), kCcIndex);
  have_last_regs_ = true;
}

void DebuggerWindow::RefreshDisassembly() {
  Debugger& d = *emu_->debugger;
  MemoryMap& mem = emu_->mem;
  const uint32_t ip = emu_->cpu.ip;
  if (code_focus_) {  // a procedure chosen in the profile is shown from its start
    goto_address_ = *code_focus_;
    goto_shown_ = true;
    code_focus_shown_ = true;
  }
  // The view is built around ip, or around the address gone to.
  const uint32_t focus = goto_shown_ ? goto_address_ : ip;
  const MemRegion& text = mem.regions[kRegionText];
  // Instructions have no fixed start going backwards: begin at the procedure holding ip when
  // it starts close above, else a fixed distance above ip (inside the text).
  uint32_t start = focus >= kLinesBefore * 4 ? focus - kLinesBefore * 4 : 0;
  std::string name;
  uint32_t offset = 0;
  const ProcessorHooks& hooks = emu_->hooks;
  if (hooks.name_address && hooks.name_address(hooks.ctx, focus, &name, &offset) &&
      offset <= kLabelReach)
    start = focus - offset;
  if (RegionHolds(text, focus) && !RegionHolds(text, start)) start = text.base;
  std::vector<uint32_t> code_breaks;
  for (const Breakpoint& b : d.Breakpoints())
    if (b.kind == BreakKind::kCode && b.enabled) code_breaks.push_back(b.start);

  struct Line {
    uint32_t address;
    bool label;
    QString text;
  };
  std::vector<Line> lines;
  int ip_line = -1;
  int focus_line = -1;
  uint32_t a = start;
  for (int after = 0; after < kLinesAfter && lines.size() < 400;) {
    if (hooks.name_address && hooks.name_address(hooks.ctx, a, &name, &offset) && offset == 0)
      lines.push_back(
          {a, true, QString::fromStdString(name.substr(name.find(':') + 1)) + QLatin1Char(':')});
    if (a == ip) ip_line = static_cast<int>(lines.size());
    if (a == focus) focus_line = static_cast<int>(lines.size());
    lines.push_back({a, false, QString::fromStdString(d.DisassembleAt(a))});
    DisassembledInstruction di =
        DisassembleInstruction(a, GuestRead32(mem, a), GuestRead32(mem, a + 4));
    if (focus_line >= 0) ++after;
    // An ip (or the address gone to) inside an 8-byte instruction still gets its own line.
    a = (a < focus && a + static_cast<uint32_t>(di.length) > focus) ? focus : a + di.length;
    if (a < start) break;  // wrapped at the top of the address space
  }
  // Keep at most kLinesBefore lines above ip.
  const int first = focus_line > kLinesBefore ? focus_line - kLinesBefore : 0;
  disassembly_->setRowCount(static_cast<int>(lines.size()) - first);
  for (size_t i = first; i < lines.size(); ++i) {
    const int row = static_cast<int>(i) - first;
    const Line& l = lines[i];
    QTableWidgetItem* marker = Cell(QString());
    if (!l.label) {
      marker->setData(Qt::UserRole, l.address);
      const bool brk =
          std::find(code_breaks.begin(), code_breaks.end(), l.address) != code_breaks.end();
      marker->setText(QString(brk ? QStringLiteral("●") : QString()) +
                      (l.address == ip ? QStringLiteral("→") : QString()));
      if (brk) marker->setForeground(QBrush(Qt::red));
    }
    disassembly_->setItem(row, 0, marker);
    disassembly_->setItem(row, 1, Cell(l.label ? QString() : Hex32(l.address)));
    disassembly_->setItem(row, 2, Cell(l.text));
    if (static_cast<int>(i) == ip_line)
      for (int c = 0; c < 3; ++c) disassembly_->item(row, c)->setBackground(QBrush(Qt::yellow));
    if (static_cast<int>(i) == focus_line) disassembly_->setCurrentCell(row, 2);
  }
  disassembly_->resizeColumnToContents(0);
  disassembly_->resizeColumnToContents(1);
}

bool DebuggerWindow::GoTo(const QString& where) {
  if (!emu_ || !emu_->debugger) return false;
  uint32_t address = 0;
  std::string error;
  if (!emu_->debugger->ParseAddress(where.trimmed().toStdString(), address, error)) {
    edit_status_->setText(QString::fromStdString(error));
    return false;
  }
  edit_status_->clear();
  goto_address_ = address & ~uint32_t{3};
  goto_shown_ = true;
  if (Standing()) {
    filling_ = true;
    RefreshDisassembly();
    filling_ = false;
  }
  return true;
}

bool DebuggerWindow::EditRegister(int n, const QString& text) {
  if (!Standing() || ended_) return false;
  QString digits = text.trimmed();
  if (digits.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)) digits = digits.mid(2);
  bool ok = false;
  const uint32_t v = digits.toUInt(&ok, 16);
  std::string error;
  if (!ok || digits.size() > 8)
    error = tr("A register holds up to eight hex digits.").toStdString();
  else
    ok = emu_->debugger->SetRegister(n, v, error);
  filling_ = true;
  RefreshRegisters();
  if (ok) {
    RefreshDisassembly();  // ip may have moved
    RefreshStack();
  }
  filling_ = false;
  edit_status_->setText(ok ? QString() : QString::fromStdString(error));
  return ok;
}

void DebuggerWindow::RegisterEdited(int row, int column) {
  if (filling_ || column % 2 == 0) return;
  QTableWidgetItem* item = registers_->item(row, column);
  if (item && item->data(Qt::UserRole).isValid())
    EditRegister(item->data(Qt::UserRole).toInt(), item->text());
}

void DebuggerWindow::RunToCursor() {
  QTableWidgetItem* item = disassembly_->item(disassembly_->currentRow(), 0);
  if (!Standing() || ended_ || !item || !item->data(Qt::UserRole).isValid()) return;
  if (run_to) run_to(item->data(Qt::UserRole).toUInt());
}

void DebuggerWindow::ShowCode(uint32_t address) {
  code_focus_ = address;
  code_focus_shown_ = false;
  if (emu_ && emu_->debugger && Standing()) RefreshDisassembly();
}

bool DebuggerWindow::ShowMemory(const QString& where) {
  if (!emu_ || !emu_->debugger) return false;
  uint32_t address = 0;
  std::string error;
  if (!emu_->debugger->ParseAddress(where.trimmed().toStdString(), address, error)) {
    memory_status_->setText(QString::fromStdString(error));
    return false;
  }
  memory_status_->clear();
  memory_base_ = address & ~uint32_t{15};
  memory_shown_ = true;
  if (Standing()) {
    filling_ = true;
    RefreshMemory();
    filling_ = false;
  }
  return true;
}

void DebuggerWindow::RefreshMemory() {
  if (!memory_shown_) return;
  MemoryMap& mem = emu_->mem;
  for (int row = 0; row < kMemoryRows; ++row) {
    const uint32_t line = memory_base_ + static_cast<uint32_t>(row * kMemoryColumns);
    memory_->setItem(row, 0, Cell(Hex32(line)));
    QString ascii;
    for (int i = 0; i < kMemoryColumns; ++i) {
      const uint32_t a = line + static_cast<uint32_t>(i);
      const bool mapped = FindRegion(mem, a) != 0;
      const uint8_t b = mapped ? GuestRead8(mem, a) : 0;
      memory_->setItem(
          row, 1 + i,
          Cell(mapped ? QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')) : QStringLiteral("--"),
               mapped));
      ascii += mapped && b >= 0x20 && b < 0x7F ? QChar(b) : QChar('.');
    }
    memory_->setItem(row, kMemoryColumns + 1, Cell(ascii));
  }
  memory_->resizeColumnsToContents();
}

void DebuggerWindow::MemoryEdited(int row, int column) {
  if (filling_ || column < 1 || column > kMemoryColumns) return;
  QTableWidgetItem* item = memory_->item(row, column);
  if (!item || !Standing() || ended_) return;
  bool ok = false;
  const uint32_t v = item->text().trimmed().toUInt(&ok, 16);
  const uint32_t a = memory_base_ + static_cast<uint32_t>(row * kMemoryColumns + column - 1);
  if (ok && v <= 0xFF) {
    GuestWrite8(emu_->mem, a, static_cast<uint8_t>(v));
    memory_status_->clear();
  } else {
    memory_status_->setText(tr("A byte is two hex digits."));
  }
  filling_ = true;
  RefreshMemory();
  RefreshWatches();
  filling_ = false;
}

void DebuggerWindow::RefreshStack() {
  stack_->clear();
  int n = 0;
  for (const BacktraceFrame& f : emu_->debugger->Backtrace())
    stack_->addItem(
        QStringLiteral("#%1 %2 %3")
            .arg(n++)
            .arg(Hex32(f.ip))
            .arg(f.name.empty() ? QStringLiteral("??") : QString::fromStdString(f.name)));
}

bool DebuggerWindow::AddWatch(const QString& where) {
  if (!emu_ || !emu_->debugger) return false;
  uint32_t address = 0;
  std::string error;
  const QString text = where.trimmed();
  if (!emu_->debugger->ParseAddress(text.toStdString(), address, error)) {
    watch_where_->setToolTip(QString::fromStdString(error));
    return false;
  }
  const int row = watches_->rowCount();
  watches_->insertRow(row);
  watches_->setItem(row, 0, Cell(text));
  watches_->setItem(row, 1, Cell(Hex32(address)));
  watches_->setItem(row, 2, Cell(QString()));
  watches_->item(row, 0)->setData(Qt::UserRole, address);
  if (Standing()) RefreshWatches();
  return true;
}

void DebuggerWindow::RefreshWatches() {
  for (int row = 0; row < watches_->rowCount(); ++row) {
    const uint32_t address = watches_->item(row, 0)->data(Qt::UserRole).toUInt();
    const std::string key = watches_->item(row, 0)->text().toStdString();
    const uint32_t v = GuestRead32(emu_->mem, address);
    QTableWidgetItem* value = Cell(Hex32(v));
    auto last = last_watch_.find(key);
    Mark(value, last != last_watch_.end() && last->second != v, watches_->font());
    watches_->setItem(row, 2, value);
    last_watch_[key] = v;
  }
}

void DebuggerWindow::ToggleBreakpoint(uint32_t address) {
  if (!emu_ || !emu_->debugger) return;
  Debugger& d = *emu_->debugger;
  bool removed = false;
  for (const Breakpoint& b : d.Breakpoints())
    if (b.kind == BreakKind::kCode && b.start == address && b.end == address)
      removed |= d.DeleteBreakpoint(b.id);
  if (!removed) {
    std::string error;
    d.AddBreakpoint(BreakKind::kCode, Hex32(address).toStdString(), "", 0, false, error);
  }
  if (Standing()) {
    filling_ = true;
    RefreshDisassembly();
    filling_ = false;
  }
}

BreakpointsDialog::BreakpointsDialog(Debugger& debugger, QWidget* parent)
    : QDialog(parent), debugger_(debugger) {
  setWindowTitle(tr("Breakpoints"));
  auto* layout = new QVBoxLayout(this);
  table_ = Table(0, 6, this);
  table_->setHorizontalHeaderLabels(
      {tr("On"), tr("#"), tr("Kind"), tr("Where"), tr("Condition"), tr("Hits")});
  layout->addWidget(table_);
  auto* add_row = new QHBoxLayout;
  kind_ = new QComboBox(this);
  kind_->addItems({tr("Code"), tr("Read"), tr("Write"), tr("Access")});
  where_ = new QLineEdit(this);
  where_->setPlaceholderText(tr("address, symbol+offset or start:end"));
  condition_ = new QLineEdit(this);
  condition_->setPlaceholderText(tr("condition, e.g. g4 == 5"));
  auto* add = new QPushButton(tr("Add"), this);
  connect(add, &QPushButton::clicked, this,
          [this] { Add(kind_->currentIndex(), where_->text(), condition_->text()); });
  auto* remove = new QPushButton(tr("Delete"), this);
  connect(remove, &QPushButton::clicked, this, [this] {
    QTableWidgetItem* id = table_->item(table_->currentRow(), 1);
    if (id) debugger_.DeleteBreakpoint(id->text().toInt());
    Fill();
  });
  for (QWidget* w : {static_cast<QWidget*>(kind_), static_cast<QWidget*>(where_),
                     static_cast<QWidget*>(condition_), static_cast<QWidget*>(add),
                     static_cast<QWidget*>(remove)})
    add_row->addWidget(w);
  layout->addLayout(add_row);
  status_ = new QLabel(this);
  layout->addWidget(status_);
  resize(640, 320);
  Fill();
}

bool BreakpointsDialog::Add(int kind, const QString& where, const QString& condition) {
  static const BreakKind kKinds[] = {BreakKind::kCode, BreakKind::kRead, BreakKind::kWrite,
                                     BreakKind::kAccess};
  std::string error;
  const int id = debugger_.AddBreakpoint(kKinds[kind < 0 || kind > 3 ? 0 : kind],
                                         where.trimmed().toStdString(),
                                         condition.trimmed().toStdString(), 0, false, error);
  status_->setText(id == 0 ? QString::fromStdString(error) : QString());
  if (id != 0) where_->clear();
  Fill();
  return id != 0;
}

void BreakpointsDialog::Fill() {
  static const char* const kKindNames[] = {"code", "read", "write", "access", "opcode"};
  const std::vector<Breakpoint> list = debugger_.Breakpoints();
  table_->setRowCount(static_cast<int>(list.size()));
  for (int row = 0; row < static_cast<int>(list.size()); ++row) {
    const Breakpoint& b = list[static_cast<size_t>(row)];
    auto* on = new QCheckBox(table_);
    on->setChecked(b.enabled);
    const int id = b.id;
    connect(on, &QCheckBox::toggled, this,
            [this, id](bool checked) { debugger_.EnableBreakpoint(id, checked); });
    table_->setCellWidget(row, 0, on);
    table_->setItem(row, 1, Cell(QString::number(b.id)));
    table_->setItem(row, 2, Cell(QString::fromLatin1(kKindNames[static_cast<int>(b.kind)])));
    table_->setItem(row, 3, Cell(QString::fromStdString(b.where)));
    table_->setItem(row, 4, Cell(QString::fromStdString(b.condition.text)));
    table_->setItem(row, 5, Cell(QString::number(b.hits)));
  }
  table_->resizeColumnsToContents();
}

}  // namespace korvane::shell
