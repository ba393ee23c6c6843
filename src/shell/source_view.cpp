// The debugger window's source pane, symbol browser and symbol-name completion.
#include "shell/source_view.h"

#include <QCompleter>
#include <QFontDatabase>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>
#include <QStringListModel>
#include <QTabWidget>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>

#include "core/disassembler.h"
#include "driver/emulator.h"
#include "image/source_files.h"
#include "shell/debugger_window.h"

namespace korvane::shell {

namespace {

// Without line numbers the pane shows this many instructions before and after ip.
constexpr uint32_t kPlainBefore = 8, kPlainAfter = 24;
// A procedure longer than this shows only the part around ip.
constexpr uint32_t kMaxProcedureBytes = 4096;

QString Hex(uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')); }

QString Instruction(Emulator& emu, uint32_t address, uint32_t ip, int* length) {
  const DisassembledInstruction d = DisassembleInstruction(
      address, GuestRead32(emu.mem, address), GuestRead32(emu.mem, address + 4),
      [&emu](uint32_t target) -> std::string {
        std::string name;
        uint32_t offset = 0;
        if (!NameAddress(emu, target, name, offset)) return "";
        return "<" + name.substr(name.find(':') + 1) +
               (offset ? "+" + std::to_string(offset) : "") + ">";
      });
  *length = d.length;
  QString line = QStringLiteral("%1 %2  %3 %4")
                     .arg(address == ip ? QStringLiteral("=>") : QStringLiteral("  "), Hex(address),
                          QString::fromStdString(d.mnemonic).leftJustified(8),
                          QString::fromStdString(d.operands));
  while (line.endsWith(QLatin1Char(' '))) line.chop(1);
  return line;
}

}  // namespace

SourcePane::SourcePane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

SourcePane::~SourcePane() = default;

void SourcePane::Reset() { sources_.reset(); }

void SourcePane::Show(Emulator& emu, uint32_t ip) {
  if (!sources_) sources_ = std::make_unique<SourceFiles>(SourceFolders(emu));
  const LineMap& lines = emu.image.lines;
  const MemRegion& text = emu.mem.regions[kRegionText];
  const bool in_text = text.host && ip >= text.base && ip <= text.last;
  QStringList out;
  int ip_block = 0;
  const LineProcedure* procedure = lines.ProcedureAt(ip);
  uint32_t start = ip >= kPlainBefore * 4 ? ip - kPlainBefore * 4 : 0, end = ip + kPlainAfter * 4;
  if (procedure) {
    start = procedure->start;
    end = procedure->end;
    if (end - start > kMaxProcedureBytes) {
      start = std::max(start, ip >= kMaxProcedureBytes / 2 ? ip - kMaxProcedureBytes / 2 : 0);
      end = std::min(end, start + kMaxProcedureBytes);
    }
    out << QString::fromStdString(procedure->name + " (" + procedure->file + ")");
  } else if (in_text) {
    start = std::max(start, text.base);
    end = std::min<uint64_t>(end, uint64_t{text.last} + 1);
    out << tr("%1: no line numbers").arg(Hex(ip));
  }
  if (!in_text) {
    setPlainText(tr("ip %1 lies outside the text").arg(Hex(ip)));
    return;
  }
  const SourcePlace* shown = nullptr;
  for (uint32_t a = start; a < end && a >= start;) {
    const SourcePlace* place = lines.Find(a);
    if (place && place != shown) {
      shown = place;
      const std::vector<std::string>* source = sources_->Lines(place->file);
      QString line = source && place->line <= source->size()
                         ? QString::fromStdString((*source)[place->line - 1])
                         : tr("(source %1 not found)").arg(QString::fromStdString(place->file));
      out << QStringLiteral("%1:%2  %3")
                 .arg(QString::fromStdString(place->file))
                 .arg(place->line)
                 .arg(line);
    }
    int length = 4;
    if (a == ip) ip_block = static_cast<int>(out.size());
    out << Instruction(emu, a, ip, &length);
    a += static_cast<uint32_t>(length);
  }
  setPlainText(out.join(QLatin1Char('\n')));
  QTextCursor cursor(document()->findBlockByNumber(ip_block));
  setTextCursor(cursor);
  centerCursor();
}

SymbolBrowser::SymbolBrowser(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  filter_ = new QLineEdit(this);
  filter_->setPlaceholderText(tr("filter symbols"));
  filter_->setClearButtonEnabled(true);
  layout->addWidget(filter_);
  list_ = new QListWidget(this);
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(list_, 1);
  connect(filter_, &QLineEdit::textChanged, this, &SymbolBrowser::SetFilter);
  connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    Q_EMIT symbolActivated(item->data(Qt::UserRole).toString());
  });
}

void SymbolBrowser::Fill(const Emulator& emu) {
  list_->clear();
  for (const auto& [address, name] : emu.image.symbols_by_address) {
    if (name.empty() || name[0] == '.') continue;
    const SourcePlace* place = emu.image.lines.Find(address);
    QString text = Hex(address) + QStringLiteral("  ") + QString::fromStdString(name);
    if (place)
      text += QStringLiteral("  %1:%2").arg(QString::fromStdString(place->file)).arg(place->line);
    auto* item = new QListWidgetItem(text, list_);
    item->setData(Qt::UserRole, QString::fromStdString(name));
  }
  SetFilter(filter_->text());
}

void SymbolBrowser::SetFilter(const QString& text) {
  for (int i = 0; i < list_->count(); ++i) {
    QListWidgetItem* item = list_->item(i);
    item->setHidden(!item->data(Qt::UserRole).toString().contains(text, Qt::CaseInsensitive));
  }
}

void CompleteSymbols(QLineEdit* field, const Emulator& emu) {
  QStringList names;
  for (const auto& [name, address] : emu.image.symbols)
    if (!name.empty() && name[0] != '.') names << QString::fromStdString(name);
  names.sort(Qt::CaseInsensitive);
  if (QCompleter* old = field->completer()) {
    if (auto* model = qobject_cast<QStringListModel*>(old->model())) {
      model->setStringList(names);
      return;
    }
  }
  auto* completer = new QCompleter(new QStringListModel(names, field), field);
  completer->setCaseSensitivity(Qt::CaseInsensitive);
  completer->setModelSorting(QCompleter::CaseInsensitivelySortedModel);
  field->setCompleter(completer);
}

}  // namespace korvane::shell

// The debugger window's part: a third column with the source pane and the symbol browser; the
// browser and the completions are filled once per machine, at its first stop.
namespace korvane::shell {

void DebuggerWindow::AddSourceViews(QWidget* split) {
  auto* tabs = new QTabWidget(split);
  source_ = new SourcePane(tabs);
  symbols_ = new SymbolBrowser(tabs);
  tabs->addTab(source_, tr("Source"));
  tabs->addTab(symbols_, tr("Symbols"));
  // The disassembly keeps the larger share of the width the registers leave.
  if (auto* columns = qobject_cast<QSplitter*>(split)) {
    columns->setStretchFactor(1, 3);
    columns->setStretchFactor(2, 2);
  }
  connect(symbols_, &SymbolBrowser::symbolActivated, this, [this, tabs](const QString& name) {
    if (!Standing()) return;
    auto it = emu_->image.symbols.find(name.toStdString());
    if (it == emu_->image.symbols.end()) return;
    const MemRegion& text = emu_->mem.regions[kRegionText];
    if (it->second >= text.base && it->second <= text.last) {
      source_->Show(*emu_, it->second);
      tabs->setCurrentWidget(source_);
    } else {
      ShowMemory(name);
    }
  });
}

void DebuggerWindow::RefreshSourceViews() {
  source_->Show(*emu_, emu_->cpu.ip);
  if (symbols_filled_) return;
  symbols_filled_ = true;
  symbols_->Fill(*emu_);
  CompleteSymbols(watch_where_, *emu_);
  CompleteSymbols(memory_where_, *emu_);
}

void DebuggerWindow::ReloadSources() {
  source_->Reset();
  if (emu_ && Standing() && !ended_) source_->Show(*emu_, emu_->cpu.ip);
}

}  // namespace korvane::shell
