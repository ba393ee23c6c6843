// The welcome of a first start.
#include "shell/welcome.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/recent_projects.h"

namespace korvane::shell {

WelcomePanel::WelcomePanel(QWidget* parent) : QFrame(parent) {
  setAutoFillBackground(true);
  setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(tr("<h2>Welcome to Korvane</h2>"), this);
  layout->addWidget(title);
  auto* text = new QLabel(tr("Korvane runs the firmware of an i960 device: its display, its keypad "
                             "and a debugger. Choose a project to run."),
                          this);
  text->setWordWrap(true);
  layout->addWidget(text);
  demo_ = new QPushButton(tr("Run the &Demo"), this);
  connect(demo_, &QPushButton::clicked, this, [this] {
    if (open_path) open_path(demo_project_);
  });
  layout->addWidget(demo_);
  open_ = new QPushButton(tr("&Open Project..."), this);
  connect(open_, &QPushButton::clicked, this, [this] {
    if (choose) choose();
  });
  layout->addWidget(open_);
  layout->addWidget(new QLabel(tr("Recent projects:"), this));
  recent_ = new QListWidget(this);
  connect(recent_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const QString path = item->data(Qt::UserRole).toString();
    if (open_path && !path.isEmpty()) open_path(path);
  });
  layout->addWidget(recent_, 1);
}

void WelcomePanel::Fill(const QString& demo_project, const QStringList& recent) {
  demo_project_ = demo_project;
  demo_->setVisible(!demo_project.isEmpty());
  recent_->clear();
  for (int i = 0; i < recent.size(); ++i) {
    // The menu's text without its mnemonic: "&1 a&&b.tvx" reads "1 a&b.tvx".
    QString text = RecentProjectText(i, recent[i]);
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(QLatin1Char('&'));
    auto* item = new QListWidgetItem(text.replace(QLatin1Char('\x01'), QLatin1Char('&')));
    item->setData(Qt::UserRole, recent[i]);
    item->setToolTip(recent[i]);
    recent_->addItem(item);
  }
  if (recent.isEmpty()) recent_->addItem(tr("(none yet)"));
}

}  // namespace korvane::shell
