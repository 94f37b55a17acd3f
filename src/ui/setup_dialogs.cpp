#include "ui/setup_dialogs.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ku::ui {

namespace {

const QString kSetupFilter = QStringLiteral("Set-up files (*.json);;All files (*)");

// The save dialog, modal, with the suggested file chosen; empty when cancelled.
QString askWhereToSave(QWidget* parent, const QString& title, const QString& suggestedPath,
                       const QString& filter, const QString& suffix) {
  QFileDialog dialog(parent, title, suggestedPath, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(suffix);
  dialog.selectFile(suggestedPath);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
}

}  // namespace

QString DialogSetupFileChooser::fileToOpen(QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileName(parent, QStringLiteral("Open set-up"), folder, kSetupFilter);
}

QString DialogSetupFileChooser::fileToSave(QWidget* parent, const QString& suggestedPath) {
  return askWhereToSave(parent, QStringLiteral("Save set-up"), suggestedPath, kSetupFilter,
                        QStringLiteral("json"));
}

QString DialogSetupFileChooser::reportToSave(QWidget* parent, const QString& suggestedPath) {
  return askWhereToSave(parent, QStringLiteral("Save diagnostic report"), suggestedPath,
                        QStringLiteral("Text files (*.txt);;All files (*)"), QStringLiteral("txt"));
}

QString DialogSetupFileChooser::backupToRestore(QWidget* parent,
                                                const std::vector<BackupEntry>& backups,
                                                const QString& preselected) {
  BackupDialog dialog(backups, parent, preselected);
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.chosenPath();
}

BackupDialog::BackupDialog(const std::vector<BackupEntry>& backups, QWidget* parent,
                           const QString& preselected)
    : QDialog(parent), backups_(backups) {
  setObjectName(QStringLiteral("backupDialog"));
  setWindowTitle(QStringLiteral("Restore backup"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("A backup of the unit's set-up is kept before every upload, newest first. "
                     "The one you open goes into the boxes where it differs from the unit; "
                     "press Update to send it."),
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("backups"));
  list_->setAccessibleName(QStringLiteral("Backups"));
  list_->setAccessibleDescription(QStringLiteral("The automatic backups, newest first."));
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Port"), QStringLiteral("Channel"),
                          QStringLiteral("Written before"), QStringLiteral("")});
  for (const BackupEntry& b : backups_) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, QString::fromStdString(b.time) +
                         (b.inFuture ? QStringLiteral(" (in the future)") : QString()));
    const std::string& port = b.unit.deviceById.empty() ? b.unit.device : b.unit.deviceById;
    item->setText(1, QString::fromStdString(port));
    if (b.unit.channel) item->setText(2, QString::number(*b.unit.channel + 1));
    item->setText(3, QString::fromStdString(b.reason));
    item->setText(4, QString::fromStdString(b.problem));
    item->setToolTip(0, QString::fromStdString(b.path));
    if (!b.problem.empty()) item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
  }
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  layout->addWidget(list_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
  open_ = buttons->button(QDialogButtonBox::Open);
  open_->setObjectName(QStringLiteral("open"));
  open_->setEnabled(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (!chosenPath().isEmpty()) accept();
  });

  // The preselected backup is chosen to begin with, else the newest usable one.
  int first = -1;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    const BackupEntry& b = backups_[static_cast<std::size_t>(i)];
    if (!b.problem.empty()) continue;
    if (first < 0) first = i;
    if (!preselected.isEmpty() && QString::fromStdString(b.path) == preselected) {
      first = i;
      break;
    }
  }
  if (first >= 0) list_->setCurrentItem(list_->topLevelItem(first));
  resize(720, 360);
}

QString BackupDialog::chosenPath() const {
  const QList<QTreeWidgetItem*> chosen = list_->selectedItems();
  if (chosen.isEmpty()) return QString();
  const int row = list_->indexOfTopLevelItem(chosen.constFirst());
  if (row < 0 || static_cast<std::size_t>(row) >= backups_.size()) return QString();
  const BackupEntry& b = backups_[static_cast<std::size_t>(row)];
  return b.problem.empty() ? QString::fromStdString(b.path) : QString();
}

void BackupDialog::selectionChanged() {
  open_->setEnabled(!chosenPath().isEmpty());
}

QString suggestedSetupFile(const QString& folder, const QDate& today) {
  return QDir(folder).filePath(
      QStringLiteral("ku-setup-%1.json").arg(today.toString(QStringLiteral("yyyy-MM-dd"))));
}

}  // namespace ku::ui
