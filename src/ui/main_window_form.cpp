// The main window's form: its rows, buttons, menus and status bar, laid out
// in twips as the form always was, and its size on screen.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "ui/classic_look.h"
#include "ui/main_window.h"
#include "ui/main_window_status.h"
#include "ui/qt_text.h"
#include "ui/twips.h"
#include "ui/window_placement.h"

namespace ku::ui {

namespace {

constexpr int kHeadingTop = 240;
constexpr int kFirstRowTop = 600;
constexpr int kRowPitch = 285;

constexpr int kLabelColumn = 480;
constexpr int kCurrentColumn = 2280;
constexpr int kBoxColumn = 3900;
constexpr int kReferenceColumn = 5190;
constexpr int kUnitColumn = 6240;
constexpr int kDescriptionColumn = 7080;
constexpr int kDescriptionValueColumn = 8520;
constexpr int kDescriptionUnitColumn = 9360;

constexpr int kFormWidth = 10140;  // the form's client area, in twips
constexpr int kFormHeight = 10455;

constexpr int rowTop(int row) {
  return kFirstRowTop + kRowPitch * row;
}

}  // namespace

void MainWindow::buildForm() {
  // The form keeps its size and every control its place whatever the window's
  // size; where the window is smaller than the form, the form scrolls.
  form_ = new QWidget;
  form_->setObjectName(QStringLiteral("form"));
  form_->setFixedSize(px(kFormWidth), px(kFormHeight));
  form_->setAutoFillBackground(true);
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("formScroll"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);  // Tab runs through the form only
  scroll_->setWidgetResizable(false);
  scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  scroll_->setWidget(form_);
  setCentralWidget(scroll_);

  buildRows();
  buildButtons();
  buildTabOrder();
  buildMenus();
  buildStatusBar();
  // The form and the status bar keep the classic grey whatever the desktop's
  // scheme; the menu bar and its menus follow the desktop.
  applyFormLook(scroll_);
  // The status bar keeps the desktop's height and size grip.
  statusBar()->setPalette(formPalette());
  statusBar()->setAutoFillBackground(true);
  for (QWidget* w : {static_cast<QWidget*>(statusText_), static_cast<QWidget*>(progress_)})
    w->setStyle(formStyle());
}

QSize MainWindow::formSize() {
  return {px(kFormWidth),
          menuBar()->sizeHint().height() + px(kFormHeight) + statusBar()->sizeHint().height()};
}

void MainWindow::buildRows() {
  struct Heading {
    const char* name;
    int left;
    const char* caption;
  };
  const Heading headings[] = {{"variableNameHeading", 480, "Variable Name"},
                              {"currentValueHeading", 2280, "Current Value"},
                              {"newValueHeading", 3960, "New Value"},
                              {"referenceHeading", 5160, "Reference Values"},
                              {"descriptionHeading", 7080, "Description"}};
  for (const Heading& h : headings) {
    auto* l = new QLabel(qs(h.caption), form_);
    l->setObjectName(qs(h.name));
    l->setFont(defaultFont(true));
    placeAutoSizeLabel(l, h.left, kHeadingTop);
  }

  auto makeLabel = [this](const QString& name, const QString& text, int left, int top) {
    auto* l = new QLabel(text, form_);
    l->setObjectName(name);
    placeAutoSizeLabel(l, left, top);
    return l;
  };
  auto indexed = [](const char* array, int index) {
    return QStringLiteral("%1_%2").arg(qs(array)).arg(index);
  };

  for (int k = 0; k < kRowSlots; ++k) {
    const int top = rowTop(k);
    const FixedTexts& fixed = fixedTexts(k);
    rowLabels_[k] =
        makeLabel(QStringLiteral("name_%1").arg(k), qs(slotInfo(k).rowLabel), kLabelColumn, top);
    currentLabels_[k] = makeLabel(indexed("current", k), QString(), kCurrentColumn, top);
    currentLabels_[k]->setToolTip(QString::fromUtf8(kNotReadBackTip));

    auto* box = new QLineEdit(form_);
    box->setObjectName(indexed("entry", k));
    box->setGeometry(twipRect(kBoxColumn, top, 1095, 280));
    box->setToolTip(qs(slotInfo(k).tooltip));
    box->setProperty("slot", k);
    box->setAccessibleName(QStringLiteral("New value: ") + qs(slotInfo(k).rowLabel));
    if (isEnterable(k)) {
      box->setAccessibleDescription(allowedRangeText(k) +
                                    QStringLiteral(" Empty keeps the unit's value."));
    } else {
      box->setEnabled(false);
      box->setAccessibleDescription(QStringLiteral("Shown only; the unit's own value is kept."));
      applyGreyBoxColours(box);
    }
    entryBoxes_[k] = box;

    referenceLabels_[k] =
        makeLabel(indexed("reference", k), qs(fixed.reference), kReferenceColumn, top);
    referenceUnitLabels_[k] =
        makeLabel(indexed("referenceUnit", k), qs(fixed.referenceUnit), kUnitColumn, top);
    descriptionNameLabels_[k] = makeLabel(indexed("descriptionName", k), qs(fixed.descriptionName),
                                          kDescriptionColumn, top);
    descriptionLabels_[k] = makeLabel(indexed("description", k), QString(), kDescriptionValueColumn,
                                      k == 18 ? top + 30 : top);
    descriptionUnitLabels_[k] = makeLabel(indexed("descriptionUnit", k), qs(fixed.descriptionUnit),
                                          kDescriptionUnitColumn, top);
  }

  // The pulse-width row.
  const int top = rowTop(kPulseWidthRow);
  const FixedTexts& fixed = fixedTexts(kPulseWidthRow);
  pulseWidthLabel_ = makeLabel(QStringLiteral("pulseWidthName"),
                               QString::fromLatin1(kPulseWidthLabel), kLabelColumn, top);
  currentLabels_[kPulseWidthRow] =
      makeLabel(indexed("current", kPulseWidthRow), QStringLiteral("N/A"), kCurrentColumn, top);
  pulseWidthBox_ = new QLineEdit(QStringLiteral("0"), form_);
  pulseWidthBox_->setObjectName(QStringLiteral("pulseWidth"));
  pulseWidthBox_->setGeometry(twipRect(kBoxColumn, top, 1095, 285));
  // The row's name, and what its text is read as.
  pulseWidthBox_->setToolTip(
      pulseWidthReadingText(pulseWidthBox_->text().toStdString(), context_.locale));
  pulseWidthBox_->setAccessibleName(QStringLiteral("New value: ") +
                                    QString::fromLatin1(kPulseWidthLabel));
  pulseWidthBox_->setAccessibleDescription(
      QStringLiteral("The echo sounder's minimum pulse width in milliseconds, for the Min Depth "
                     "figure; never sent to the unit."));
  referenceLabels_[kPulseWidthRow] =
      makeLabel(indexed("reference", kPulseWidthRow), qs(fixed.reference), kReferenceColumn, top);
  referenceUnitLabels_[kPulseWidthRow] = makeLabel(indexed("referenceUnit", kPulseWidthRow),
                                                   qs(fixed.referenceUnit), kUnitColumn, top);
}

void MainWindow::buildButtons() {
  auto makeButton = [this](const char* name, const char* caption, int left, int width,
                           const char* description) {
    auto* b = new QPushButton(qs(caption), form_);
    b->setObjectName(qs(name));
    b->setFont(defaultFont());
    b->setGeometry(twipRect(left, 10080, width, 255));
    b->setAutoDefault(false);
    b->setAccessibleDescription(qs(description));
    return b;
  };
  // Alt+D, Alt+U and Alt+C press them; the captions read "Default", "Update", "Close".
  defaultButton_ =
      makeButton("default", "&Default", 2760, 1095,
                 "Uploads the built-in default set-up, keeping the unit's channel, then reads "
                 "the unit back.");
  updateButton_ = makeButton("update", "&Update", 3840, 1215,
                             "Uploads every value, your entries laid over the unit's, then reads "
                             "the unit back.");
  closeButton_ = makeButton("close", "&Close", 5040, 1215,
                            "Sends the unit its close byte, closes the port and ends the program.");
}

void MainWindow::buildMenus() {
  auto action = [this](QMenu* menu, const char* name, const QString& text, const char* description,
                       const QKeySequence& keys = QKeySequence()) {
    QAction* a = menu->addAction(text);
    a->setObjectName(qs(name));
    a->setStatusTip(qs(description));
    a->setWhatsThis(qs(description));
    a->setToolTip(qs(description));
    if (!keys.isEmpty()) a->setShortcut(keys);
    return a;
  };
  auto menu = [this](const char* name, const QString& title, const char* description) {
    QMenu* m = menuBar()->addMenu(title);
    m->setObjectName(qs(name));
    m->setAccessibleName(QString(title).remove(QLatin1Char('&')));
    m->setAccessibleDescription(qs(description));
    return m;
  };

  QMenu* file =
      menu("fileMenu", QStringLiteral("&File"), "Set-up files, backups and leaving the program.");
  openSetupAction_ =
      action(file, "openSetup", QStringLiteral("&Open set-up..."),
             "Puts a saved set-up into the boxes where it differs from the unit; Update sends it.",
             QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(openSetupAction_, &QAction::triggered, this, [this] { openSetup(); });
  saveSetupAction_ = action(file, "saveSetup", QStringLiteral("&Save set-up..."),
                            "Saves the set-up read back from the unit last to a file.",
                            QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(saveSetupAction_, &QAction::triggered, this, [this] { saveSetup(); });
  restoreBackupAction_ =
      action(file, "restoreBackup", QStringLiteral("&Restore backup..."),
             "Lists the backups kept before every upload and opens the one you choose.");
  connect(restoreBackupAction_, &QAction::triggered, this, [this] { restoreBackup(); });
  file->addSeparator();
  quitAction_ = action(file, "quit", QStringLiteral("&Quit"),
                       "Closes the window as Close does: the unit gets its close byte.",
                       QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(quitAction_, &QAction::triggered, this, [this] { close(); });

  // Alt+N: Alt+U presses "Update".
  QMenu* unit = menu("unitMenu", QStringLiteral("U&nit"), "Exchanges with the unit.");
  readBackAction_ = action(unit, "readBack", QStringLiteral("&Read back"),
                           "Reads the unit's set-up back without sending it anything else.",
                           QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(readBackAction_, &QAction::triggered, this, [this] { readBackUnit(); });
  portAction_ = action(unit, "port", QStringLiteral("&Port..."),
                       "Chooses the serial port the unit is wired to, makes it port 1, then "
                       "sets it up and reads the unit back.");
  connect(portAction_, &QAction::triggered, this, [this] { choosePort(); });
  checkConnectionAction_ =
      action(unit, "checkConnection", QStringLiteral("&Check connection..."),
             "Checks the settings, the port and the line step by step and names what keeps the "
             "unit from answering; uploads nothing.");
  connect(checkConnectionAction_, &QAction::triggered, this, [this] { checkConnection(); });

  QMenu* help = menu("helpMenu", QStringLiteral("&Help"), "The guide and the program's facts.");
  guideAction_ =
      action(help, "operatorsGuide", QStringLiteral("&Operator's guide"),
             "Shows the operator's guide.", QKeySequence::HelpContents);
  connect(guideAction_, &QAction::triggered, this, [this] { openOperatorGuide(); });
  reportAction_ = action(help, "diagnosticReport", QStringLiteral("Save &diagnostic report..."),
                         "Saves a text file for support: the version, the paths and port in "
                         "use, the last record and the latest events on the line.");
  connect(reportAction_, &QAction::triggered, this, [this] { saveDiagnosticReport(); });
  aboutAction_ = action(help, "about", QStringLiteral("&About"),
                        "The program's version, and the files and device it uses.");
  connect(aboutAction_, &QAction::triggered, this, [this] { showAbout(); });
}

void MainWindow::buildStatusBar() {
  statusText_ = new QLabel(this);
  statusText_->setObjectName(QStringLiteral("statusText"));
  statusText_->setAccessibleName(QStringLiteral("Status"));
  statusText_->setTextFormat(Qt::PlainText);
  statusBar()->addWidget(statusText_, 1);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setAccessibleName(QStringLiteral("Progress"));
  progress_->setMaximumWidth(px(2400));
  // Wide enough for its longest text, "69 of 69 bytes".
  progress_->setMinimumWidth(progress_->fontMetrics().horizontalAdvance(
                                 QStringLiteral("%1 of %1 bytes").arg(kUploadLength)) +
                             px(360));
  progress_->setMaximumHeight(statusText_->sizeHint().height() + 2);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
  progressTimer_ = new QTimer(this);
  progressTimer_->setInterval(50);
  connect(progressTimer_, &QTimer::timeout, this, [this] { pauseTick(); });
}

void MainWindow::buildTabOrder() {
  QWidget* previous = entryBoxes_[0];
  auto chain = [&previous](QWidget* next) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  };
  // As the eye goes: the boxes top to bottom, then the buttons left to right.
  for (int k = 1; k < kRowSlots; ++k) chain(entryBoxes_[k]);
  chain(pulseWidthBox_);
  chain(defaultButton_);
  chain(updateButton_);
  chain(closeButton_);
}

void MainWindow::placeOnScreen() {
  centreOnScreen(this, formSize(), style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

}  // namespace ku::ui
