// How the main window asks the operator which set-up file to open or save and
// which backup to restore: the system's file dialogs and a list of the backups.
// The window takes them through SetupFileChooser, so its tests can answer
// without a dialog.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "app/backups.h"

class QTreeWidget;
class QPushButton;

namespace ku::ui {

class SetupFileChooser {
 public:
  virtual ~SetupFileChooser() = default;
  // Each returns the chosen file's path, or nothing when the operator cancelled.
  virtual QString fileToOpen(QWidget* parent, const QString& folder) = 0;
  virtual QString fileToSave(QWidget* parent, const QString& suggestedPath) = 0;
  // preselected: the path of the backup chosen to begin with; empty for the newest usable one.
  virtual QString backupToRestore(QWidget* parent, const std::vector<BackupEntry>& backups,
                                  const QString& preselected) = 0;
  // Where the diagnostic report goes; by default asked as a set-up file is.
  virtual QString reportToSave(QWidget* parent, const QString& suggestedPath) {
    return fileToSave(parent, suggestedPath);
  }
};

// The production chooser: the file dialogs and BackupDialog, each modal.
class DialogSetupFileChooser : public SetupFileChooser {
 public:
  QString fileToOpen(QWidget* parent, const QString& folder) override;
  QString fileToSave(QWidget* parent, const QString& suggestedPath) override;
  QString backupToRestore(QWidget* parent, const std::vector<BackupEntry>& backups,
                          const QString& preselected) override;
  QString reportToSave(QWidget* parent, const QString& suggestedPath) override;
};

// The automatic backups, newest first, with time, port, channel and reason. A backup
// that cannot be used is listed with the reason and cannot be chosen. The preselected
// backup is chosen to begin with when it is usable, else the newest usable one.
class BackupDialog : public QDialog {
  Q_OBJECT

 public:
  BackupDialog(const std::vector<BackupEntry>& backups, QWidget* parent = nullptr,
               const QString& preselected = QString());
  // The chosen backup's path; empty while none usable is selected.
  QString chosenPath() const;

 private:
  void selectionChanged();

  std::vector<BackupEntry> backups_;
  QTreeWidget* list_ = nullptr;
  QPushButton* open_ = nullptr;
};

// "ku-setup-2026-12-07.json" in folder: the name a new set-up file is offered.
QString suggestedSetupFile(const QString& folder, const QDate& today);

}  // namespace ku::ui
