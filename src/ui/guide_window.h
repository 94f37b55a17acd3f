// GuideWindow, the operator's guide inside the program: the guide's Markdown and
// its pictures are built into the program's resources (under ":/guide"), shown with
// Qt's own Markdown support, with a find box below the text. No other program is
// needed, so it is there in a portable folder and from the package alike.
#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBrowser;

namespace ku::ui {

class GuideWindow : public QWidget {
  Q_OBJECT

 public:
  // A window of its own; with a parent the window manager keeps it above that one.
  explicit GuideWindow(QWidget* parent = nullptr);

  // The guide in the resources: qrc:/guide/operators-guide.md; its pictures are
  // beside it under images/.
  static QUrl guideUrl();

  // Selects the next place of `text` after the selection (before it when backward),
  // going round at the end of the guide. When the guide does not hold it the
  // selection stays and "not found" shows beside the find box; false then.
  bool find(const QString& text, bool backward = false);
  // Ctrl+F: the find box takes the focus with its text selected.
  void focusFindBox();

 private:
  QTextBrowser* text_ = nullptr;
  QLineEdit* findBox_ = nullptr;
  QLabel* findResult_ = nullptr;
};

}  // namespace ku::ui
