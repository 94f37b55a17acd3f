// Unit > Check connection...: the connection check of kuctl doctor, run on the
// exchange thread over the window's own port when it is open, and its lines
// shown in a dialog.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTime>
#include <QVBoxLayout>
#include <memory>

#include "app/connection_check.h"
#include "app/folders.h"
#include "link/qt_serial_port.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/twips.h"

namespace ku::ui {

void MainWindow::checkConnection() {
  if (busy_) return;
  const PortSource source =
      portSourceOf(resolveFolders(FolderEnvironment::ofProcess(context_.programDir)));
  auto result = std::make_shared<ConnectionCheckResult>();
  exchange(
      Exchange::CheckConnection,
      [this, source, result] {
        ConnectionCheckEnv env;
        env.sleeper = sleeper_.get();
        // The window's port, when it is open on the device, is not another program.
        env.ownLink = &controller_->link();
        env.trace = trace_;
        env.makePort = [] { return std::make_unique<QtSerialPort>(std::string()); };
        *result = runConnectionCheck(source, env);
      },
      [this, result] {
        const QString verdict = QString::fromLatin1(verdictWord(result->verdict));
        lastSummary_ = QStringLiteral("Connection check: %1 at %2")
                           .arg(verdict, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        statusText_->setText(lastSummary_);
        const QString text = qs(result->text());
        noteConnectionCheck(text);

        auto* dialog = new QDialog(this);
        dialog->setObjectName(QStringLiteral("connectionCheckDialog"));
        dialog->setWindowTitle(QStringLiteral("Check connection"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        auto* layout = new QVBoxLayout(dialog);
        auto* heading = new QLabel(
            QStringLiteral("Verdict: %1. Each line: what was checked, what was found, what to do.")
                .arg(verdict),
            dialog);
        heading->setObjectName(QStringLiteral("connectionCheckVerdict"));
        layout->addWidget(heading);
        auto* lines = new QPlainTextEdit(text, dialog);
        lines->setObjectName(QStringLiteral("connectionCheckText"));
        lines->setAccessibleName(QStringLiteral("Connection check"));
        lines->setReadOnly(true);
        lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        lines->setMinimumSize(px(9000), px(4000));
        layout->addWidget(lines);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
        layout->addWidget(buttons);
        dialog->open();
      });
}

}  // namespace ku::ui
