// The main window's menu commands that are not exchanges themselves: Unit >
// Port..., the File menu's set-up files and backups, and Help.
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTime>
#include <system_error>

#include "app/file_writing.h"
#include "app/folders.h"
#include "app/operator_texts.h"
#include "app/version.h"
#include "cli/diagnostic_report.h"
#include "link/qt_serial_port.h"
#include "ui/guide_window.h"
#include "ui/main_window.h"
#include "ui/port_dialog.h"
#include "ui/qt_text.h"

namespace ku::ui {

bool MainWindow::lineBack() {
  reopenCode_ = controller_->reopenLostLine().code;
  return reopenCode_ == kNoError;
}

QString MainWindow::deviceInUse() {
  return aboutFacts().device;
}

void MainWindow::choosePort() {
  if (busy_) return;
  const Folders folders = resolveFolders(FolderEnvironment::ofProcess(context_.programDir));
  PortDialog dialog(listPorts_, portDestinationText(folders), deviceInUse(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (const std::optional<SerialPortEntry> chosen = dialog.chosenPort()) usePort(*chosen);
}

bool MainWindow::usePort(const SerialPortEntry& port) {
  if (busy_) return false;
  const std::string target = port.preferredPath();
  const QString inUse = deviceInUse();
  if (!inUse.isEmpty() && sameDevice(qs(target), inUse)) {
    lastSummary_ = QStringLiteral("The port stays %1; nothing was changed").arg(qs(target));
    statusText_->setText(lastSummary_);
    return false;
  }
  const FolderEnvironment env = FolderEnvironment::ofProcess(context_.programDir);
  // Written where the program reads its settings, so that the choice takes effect.
  const std::string folder = resolveFolders(env).settingsFolder();
  portRefusal_.clear();
  const QString changed =
      QStringLiteral("Port 1 is now %1 (set in %2). ").arg(qs(target), qs(folder));
  return exchange(
      Exchange::Load,
      [this, target, folder, env] {
        // The new device first: a device that does not open leaves the settings
        // and the port in use as they are.
        const std::string refused = target.empty() ? "no device was chosen" : tryPort_(target);
        if (!refused.empty()) {
          portRefusal_ = target.empty() ? refused : target + " did not open: " + refused;
          return;
        }
        exchanges_->onWindowThread([&] {
          portRefusal_ = writePortSettings(folder, target);
          if (portRefusal_.empty()) useFolders(context_, resolveFolders(env));
        });
        if (!portRefusal_.empty()) return;
        if (ownPort_) ownPort_->setFolder(context_.linkFolder);
        lastLoad_ = controller_->reopenLink();
      },
      [this, changed] {
        if (portRefusal_.empty()) {
          lastSummary_ = changed + statusText_->text();
        } else {
          lastSummary_ = QStringLiteral("The port was not changed at %1")
                             .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
          notifier_->show({MessageKind::Other, "The port was not changed: " + portRefusal_ + "."});
        }
        statusText_->setText(lastSummary_);
      });
}

void MainWindow::openSetup() {
  if (busy_ || !controller_->mayDiscardTypedEntries()) return;
  const QString path = chooser_->fileToOpen(this, setupFolder_);
  if (path.isEmpty()) return;
  setupFolder_ = QFileInfo(path).absolutePath();
  openSetupFrom(path, QFileInfo(path).fileName());
}

void MainWindow::restoreBackup() {
  if (busy_) return;
  std::vector<BackupEntry> list;
  try {
    list = controller_->backups();
  } catch (const BackupError& e) {
    notifier_->show({MessageKind::Other, e.what()});
    return;
  }
  if (list.empty()) {
    const std::string folder =
        context_.backupsDir.empty() ? std::string("the backups folder") : context_.backupsDir;
    notifier_->show({MessageKind::Other, "There is no backup yet. One is written to " + folder +
                                             " before every upload."});
    return;
  }
  if (!controller_->mayDiscardTypedEntries()) return;
  const QString path = chooser_->backupToRestore(this, list, brokenUploadBackup_);
  if (path.isEmpty()) return;
  QString time = QFileInfo(path).fileName();
  for (const BackupEntry& b : list) {
    if (QString::fromStdString(b.path) == path) time = QString::fromStdString(b.time);
  }
  openSetupFrom(path, QStringLiteral("the backup of ") + time, true);
}

void MainWindow::openSetupFrom(const QString& path, const QString& what, bool backup) {
  SetupOpening opening;
  runHandler([&] {
    opening = backup ? controller_->openBackup(path.toStdString())
                     : controller_->openSetupFile(path.toStdString());
  });
  const QString when =
      QStringLiteral(" at ") + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  if (!opening.opened()) {
    statusText_->setText(QStringLiteral("Did not open ") + what + when);
    return;
  }
  const int differing = opening.differing;
  if (differing == 0)
    statusText_->setText(QStringLiteral("Opened ") + what +
                         QStringLiteral(": it holds the unit's set-up; nothing to send") + when);
  else
    statusText_->setText(QStringLiteral("Opened %1: %2 %3, now in the boxes")
                             .arg(what)
                             .arg(differing)
                             .arg(differing == 1 ? QStringLiteral("value differs")
                                                 : QStringLiteral("values differ")) +
                         when);
}

void MainWindow::saveSetup() {
  if (busy_) return;
  const QString when =
      QStringLiteral(" at ") + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  // Said before the file dialog, in one line: the slots themselves are in the
  // status bar's count of the last read-back.
  const std::size_t unread = controller_->unreadSlotsToSave().size();
  if (unread > 0) {
    const std::string missing =
        std::to_string(unread) +
        (unread == 1 ? " slot was not read back" : " slots were not read back");
    notifier_->show({MessageKind::Other, missing + "; read the unit back first"});
    statusText_->setText(QStringLiteral("Did not save the set-up: ") + qs(missing) + when);
    return;
  }
  const QString path =
      chooser_->fileToSave(this, suggestedSetupFile(setupFolder_, QDate::currentDate()));
  if (path.isEmpty()) return;
  setupFolder_ = QFileInfo(path).absolutePath();
  bool saved = false;
  runHandler([&] { saved = controller_->saveSetupFile(path.toStdString()).saved(); });
  statusText_->setText((saved ? QStringLiteral("Saved the unit's set-up to ")
                              : QStringLiteral("Did not save the set-up to ")) +
                       QFileInfo(path).fileName() + when);
}

AboutFacts MainWindow::aboutFacts() {
  AboutFacts f;
  f.version = QString::fromLatin1(kVersion);
  f.referenceDatabase = QString::fromStdString(context_.referenceDatabase);
  f.referenceDatabaseFound = QFileInfo(f.referenceDatabase).isFile();
  f.settingsFile = QString::fromStdString(context_.settingsFile);
  f.settingsFileFound = QFileInfo(f.settingsFile).isFile();
  if (lastLoad_.outcome != LoadOutcome::Rejected) {
    try {
      f.portNumber = portNumberToInt16(context_.port.portNumber);
    } catch (const std::exception&) {
      f.portNumber = 0;
    }
  }
  if (f.portNumber > 0)
    f.device = QString::fromStdString(portDevice(context_.linkFolder, f.portNumber).path);
  // During an exchange the port is the exchange thread's: its state as the last one left it.
  f.portOpen = busy_ ? portOpen_ : controller_->port().isOpen();
  return f;
}

void MainWindow::showAbout() {
  auto* box = new QMessageBox(QMessageBox::NoIcon,
                              QStringLiteral("About ") + QString::fromLatin1(kAppTitle),
                              aboutText(aboutFacts()), QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("aboutBox"));
  box->setTextFormat(Qt::PlainText);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

std::string MainWindow::diagnosticReportText() {
  cli::ReportFacts facts = cli::reportFacts(*trace_);
  facts.program = std::string("kuutil ") + kVersion;
  facts.folders = resolveFolders(FolderEnvironment::ofProcess(context_.programDir));
  facts.status = statusText_->text().toStdString();
  facts.connectionCheck = connectionCheck_.toStdString();
  return cli::diagnosticReport(facts);
}

void MainWindow::saveDiagnosticReport() {
  const QString suggested =
      QDir(setupFolder_)
          .filePath(
              QStringLiteral("ku-report-%1.txt").arg(QDate::currentDate().toString(Qt::ISODate)));
  const QString path = chooser_->reportToSave(this, suggested);
  if (path.isEmpty()) return;
  const QString when =
      QStringLiteral(" at ") + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  // Taken before the status bar says anything about the report itself.
  const QByteArray text = QByteArray::fromStdString(diagnosticReportText());
  try {
    writeWholeFile(path.toStdString(), text, 0644);
    statusText_->setText(QStringLiteral("Saved the diagnostic report to ") + path + when);
    return;
  } catch (const std::system_error& e) {
    notifier_->show({MessageKind::Other, "The diagnostic report could not be saved to " +
                                             path.toStdString() + ": " + e.code().message()});
  }
  statusText_->setText(QStringLiteral("Did not save the diagnostic report") + when);
}

void MainWindow::openOperatorGuide() {
  if (!guide_) guide_ = std::make_unique<GuideWindow>();
  guide_->show();
  guide_->raise();
  guide_->activateWindow();
}

}  // namespace ku::ui
