// Debug > Profile: the top procedures of the running firmware.
#include "shell/profile_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "core/run_counts.h"
#include "driver/emulator.h"
#include "image/profile_report.h"

namespace korvane::shell {

namespace {

constexpr int kRows = 40;        // procedures shown
constexpr int kRefreshMs = 500;  // while the window is shown
constexpr int kAddressRole = Qt::UserRole;

QTableWidgetItem* Cell(const QString& text, bool number) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return item;
}

QString Share(uint64_t part, uint64_t total) {
  return QStringLiteral("%1%").arg(total ? 100.0 * static_cast<double>(part) / total : 0.0, 0, 'f',
                                   2);
}

}  // namespace

ProfileWindow::ProfileWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(tr("Profile"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  total_ = new QLabel(this);
  reset_ = new QPushButton(tr("&Reset"), this);
  top->addWidget(total_, 1);
  top->addWidget(reset_);
  layout->addLayout(top);
  table_ = new QTableWidget(0, 5, this);
  table_->setHorizontalHeaderLabels(
      {tr("Procedure"), tr("Self"), tr("Self %"), tr("Inclusive"), tr("Calls")});
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  layout->addWidget(table_);
  resize(560, 480);

  connect(reset_, &QPushButton::clicked, this, [this] {
    if (counts_) counts_->RequestReset();
  });
  connect(table_, &QTableWidget::cellActivated, this, [this](int row, int) {
    const QTableWidgetItem* item = table_->item(row, 0);
    if (item && show_procedure) show_procedure(item->data(kAddressRole).toUInt());
  });
  timer_ = new QTimer(this);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    if (isVisible()) Refresh();
  });
  timer_->start();
}

ProfileWindow::~ProfileWindow() = default;

void ProfileWindow::Attach(Emulator* emu) {
  if (emu && emu == emu_ && counts_) return;  // counting already
  emu_ = emu;
  counts_ = nullptr;
  if (emu) {
    all_counts_.push_back(std::make_unique<RunCounts>());
    counts_ = all_counts_.back().get();
    emu->run.counts_wanted.store(counts_, std::memory_order_release);
    counts_->RequestPublish();
  }
  Refresh();
}

void ProfileWindow::Refresh() {
  if (!emu_ || !counts_) {
    table_->setRowCount(0);
    total_->setText(tr("No firmware"));
    return;
  }
  RunCounts view;
  view.nodes = counts_->Published();
  counts_->RequestPublish();
  const Profile p = BuildProfile(*emu_, view);
  total_->setText(tr("%1 instructions").arg(p.total));
  const int rows = std::min<int>(kRows, static_cast<int>(p.rows.size()));
  table_->setRowCount(rows);
  for (int r = 0; r < rows; ++r) {
    const ProfileRow& row = p.rows[r];
    QTableWidgetItem* name = Cell(QString::fromStdString(row.name), false);
    name->setData(kAddressRole, row.address);
    table_->setItem(r, 0, name);
    table_->setItem(r, 1, Cell(QString::number(row.self), true));
    table_->setItem(r, 2, Cell(Share(row.self, p.total), true));
    table_->setItem(r, 3, Cell(QString::number(row.inclusive), true));
    table_->setItem(r, 4, Cell(QString::number(row.calls), true));
  }
}

}  // namespace korvane::shell
