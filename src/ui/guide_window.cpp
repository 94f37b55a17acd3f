#include "ui/guide_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace ku::ui {

namespace {
const char kNotFound[] = "not found";
}

QUrl GuideWindow::guideUrl() {
  return QUrl(QStringLiteral("qrc:/guide/operators-guide.md"));
}

GuideWindow::GuideWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("guideWindow"));
  setWindowTitle(QStringLiteral("Operator's guide"));
  // The program ends with its main window, whether the guide is open or not.
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(780, 640);

  text_ = new QTextBrowser(this);
  text_->setObjectName(QStringLiteral("guideText"));
  text_->setOpenExternalLinks(true);
  text_->setSource(guideUrl(), QTextDocument::MarkdownResource);

  auto* findLabel = new QLabel(QStringLiteral("&Find:"), this);
  findBox_ = new QLineEdit(this);
  findBox_->setObjectName(QStringLiteral("findBox"));
  findBox_->setClearButtonEnabled(true);
  findBox_->setAccessibleName(QStringLiteral("Find in the guide"));
  findLabel->setBuddy(findBox_);
  auto* next = new QPushButton(QStringLiteral("&Next"), this);
  next->setObjectName(QStringLiteral("findNext"));
  next->setAutoDefault(false);
  findResult_ = new QLabel(this);
  findResult_->setObjectName(QStringLiteral("findResult"));
  findResult_->setMinimumWidth(findResult_->fontMetrics().horizontalAdvance(kNotFound) + 8);

  auto* findRow = new QHBoxLayout;
  findRow->addWidget(findLabel);
  findRow->addWidget(findBox_, 1);
  findRow->addWidget(next);
  findRow->addWidget(findResult_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addLayout(findRow);

  auto findNext = [this] { find(findBox_->text()); };
  connect(findBox_, &QLineEdit::returnPressed, this, findNext);
  connect(findBox_, &QLineEdit::textEdited, findResult_, &QLabel::clear);
  connect(next, &QPushButton::clicked, this, findNext);
  auto shortcut = [this](QKeySequence::StandardKey key, auto slot) {
    auto* s = new QShortcut(key, this);
    s->setContext(Qt::WindowShortcut);
    connect(s, &QShortcut::activated, this, slot);
  };
  shortcut(QKeySequence::Find, [this] { focusFindBox(); });
  shortcut(QKeySequence::FindNext, findNext);
  shortcut(QKeySequence::FindPrevious, [this] { find(findBox_->text(), true); });
}

void GuideWindow::focusFindBox() {
  findBox_->setFocus(Qt::ShortcutFocusReason);
  findBox_->selectAll();
}

bool GuideWindow::find(const QString& text, bool backward) {
  findResult_->clear();
  if (text.isEmpty()) return false;
  const QTextDocument::FindFlags flags =
      backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  if (text_->find(text, flags)) return true;
  // Round from the other end; the selection stays where it was when that finds nothing.
  const QTextCursor before = text_->textCursor();
  QTextCursor from(text_->document());
  from.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
  text_->setTextCursor(from);
  if (text_->find(text, flags)) return true;
  text_->setTextCursor(before);
  findResult_->setText(QString::fromLatin1(kNotFound));
  return false;
}

}  // namespace ku::ui
