#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <exception>

#include "link/qt_serial_port.h"
#include "reference/db_cache.h"
#include "reference/reference_database.h"
#include "ui/message_box_notifier.h"
#include "ui/twips.h"

namespace ku::ui {

namespace {

constexpr int kHeadingTop = 240;
constexpr int kFirstRowTop = 600;
constexpr int kRowPitch = 285;
constexpr int kPulseRow = 32;

constexpr int kLabelColumn = 480;
constexpr int kCurrentColumn = 2280;
constexpr int kBoxColumn = 3900;
constexpr int kReferenceColumn = 5190;
constexpr int kUnitColumn = 6240;
constexpr int kDescriptionColumn = 7080;
constexpr int kDescriptionValueColumn = 8520;
constexpr int kDescriptionUnitColumn = 9360;

constexpr int rowTop(int row) {
  return kFirstRowTop + kRowPitch * row;
}

QString qs(const char* text) {
  return QString::fromUtf8(text ? text : "");
}
QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

// Throws away the operator's clicks and keys that queued up while an exchange
// held the window; the window did not react to them then, and must not later.
class InputSwallower : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
        return true;
      default:
        return false;
    }
  }
};

void discardQueuedInput() {
  InputSwallower swallower;
  qApp->installEventFilter(&swallower);
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  qApp->removeEventFilter(&swallower);
}

}  // namespace

MainWindow::MainWindow(AppContext& module, MainWindowDeps deps)
    : QWidget(nullptr), module_(module) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("TolvekKU "));
  setFont(defaultFont());
  applyWindowColours(this);
  resize(px(10140), px(10455));

  buildRows();
  buildButtons();
  buildTabOrder();

  Notifier* notifier = deps.notifier;
  if (!notifier) {
    ownNotifier_ = std::make_unique<MessageBoxNotifier>(this);
    notifier = ownNotifier_.get();
  }
  Sleeper* sleeper = deps.sleeper;
  if (!sleeper) {
    // Keep painting while a pause waits, but take no input from the operator.
    ownSleeper_ = std::make_unique<RealSleeper>(
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    sleeper = ownSleeper_.get();
  }
  ReferenceDatabaseOpener* opener = deps.opener;
  if (!opener) {
    ownOpener_ = makeCachingMdbOpener();
    opener = ownOpener_.get();
  }
  std::unique_ptr<SerialPort> port = std::move(deps.port);
  if (!port) port = std::make_unique<QtSerialPort>(module_.linkFolder);

  core_ = std::make_unique<UnitController>(module_, *this, *notifier, *sleeper, std::move(port),
                                           *opener);
  connectHandlers();
  entryBoxes_[1]->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() {
  // Handlers must not run on a half-destroyed window.
  for (QLineEdit* box : entryBoxes_) box->disconnect(this);
  pulseWidthBox_->disconnect(this);
  for (QLineEdit* box : entryBoxes_) box->removeEventFilter(this);
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
    auto* l = new QLabel(qs(h.caption), this);
    l->setObjectName(qs(h.name));
    l->setFont(defaultFont(true));
    placeAutoSizeLabel(l, h.left, kHeadingTop);
  }

  auto makeLabel = [this](const QString& name, const QString& text, int left, int top) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    placeAutoSizeLabel(l, left, top);
    return l;
  };
  auto indexed = [](const char* array, int index) {
    return QStringLiteral("%1_%2").arg(qs(array)).arg(index);
  };

  for (int k = 0; k < 32; ++k) {
    const int top = rowTop(k);
    const FixedTexts& fixed = fixedTexts(k);
    rowLabels_[k] =
        makeLabel(QStringLiteral("name_%1").arg(k), qs(slotInfo(k).rowLabel), kLabelColumn, top);
    currentLabels_[k] = makeLabel(indexed("current", k), QString(), kCurrentColumn, top);

    auto* box = new QLineEdit(this);
    box->setObjectName(indexed("entry", k));
    box->setGeometry(twipRect(kBoxColumn, top, 1095, 280));
    box->setToolTip(qs(slotInfo(k).tooltip));
    box->setProperty("slot", k);
    if (!isEnterable(k)) {
      box->setEnabled(false);
      QPalette pal = box->palette();
      for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, backgroundColour());
      box->setPalette(pal);
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
  const int top = rowTop(kPulseRow);
  const FixedTexts& fixed = fixedTexts(kPulseRow);
  pulseWidthLabel_ = makeLabel(QStringLiteral("pulseWidthName"),
                               QStringLiteral("E/S Min Pulse width"), kLabelColumn, top);
  currentLabels_[kPulseRow] =
      makeLabel(indexed("current", kPulseRow), QStringLiteral("N/A"), kCurrentColumn, top);
  pulseWidthBox_ = new QLineEdit(QStringLiteral("0"), this);
  pulseWidthBox_->setObjectName(QStringLiteral("pulseWidth"));
  pulseWidthBox_->setGeometry(twipRect(kBoxColumn, top, 1095, 285));
  pulseWidthBox_->setToolTip(QStringLiteral("E/S Min Pulse width"));
  referenceLabels_[kPulseRow] =
      makeLabel(indexed("reference", kPulseRow), qs(fixed.reference), kReferenceColumn, top);
  referenceUnitLabels_[kPulseRow] =
      makeLabel(indexed("referenceUnit", kPulseRow), qs(fixed.referenceUnit), kUnitColumn, top);
}

void MainWindow::buildButtons() {
  auto makeButton = [this](const char* name, const char* caption, int left, int width) {
    auto* b = new QPushButton(qs(caption), this);
    b->setObjectName(qs(name));
    b->setFont(defaultFont());
    b->setGeometry(twipRect(left, 10080, width, 255));
    b->setAutoDefault(false);
    return b;
  };
  defaultButton_ = makeButton("default", "Default", 2760, 1095);
  updateButton_ = makeButton("update", "Update", 3840, 1215);
  closeButton_ = makeButton("close", "Close", 5040, 1215);
}

void MainWindow::buildTabOrder() {
  QWidget* previous = entryBoxes_[0];
  auto chain = [&previous](QWidget* next) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  };
  for (int k = 1; k < 32; ++k) chain(entryBoxes_[k]);
  chain(updateButton_);
  chain(closeButton_);
  chain(pulseWidthBox_);
  chain(defaultButton_);
}

void MainWindow::connectHandlers() {
  for (int k = 0; k < 32; ++k) {
    connect(entryBoxes_[k], &QLineEdit::textChanged, this,
            [this, k] { guarded([this, k] { core_->entryEdited(k); }); });
    entryBoxes_[k]->installEventFilter(this);
  }
  connect(pulseWidthBox_, &QLineEdit::textChanged, this,
          [this] { guarded([this] { core_->pulseWidthEdited(); }); });
  connect(updateButton_, &QPushButton::clicked, this,
          [this] { exchange([this] { core_->uploadEntries(); }); });
  connect(defaultButton_, &QPushButton::clicked, this,
          [this] { exchange([this] { core_->uploadDefaults(); }); });
  connect(closeButton_, &QPushButton::clicked, this, [this] { close(); });
}

void MainWindow::guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception&) {
    // The operations report to the operator themselves; what escapes them
    // ends only the handler that ran it.
  }
}

void MainWindow::exchange(const std::function<void()>& work) {
  QPointer<QWidget> hadFocus = focusWidget();
  ++busy_;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  guarded(work);
  QApplication::restoreOverrideCursor();
  --busy_;
  if (busy_ > 0) return;

  discardQueuedInput();
  if (hadFocus && hadFocus->isEnabled() && hadFocus != focusWidget() && isVisible())
    hadFocus->setFocus(Qt::OtherFocusReason);
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

LoadResult MainWindow::load() {
  LoadResult result{LoadOutcome::Unlinked, 0, {}};
  exchange([this, &result] { result = core_->openLink(); });
  return result;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_ > 0) {
    // The exchange finishes first; the window closes right after it.
    closePending_ = true;
    event->ignore();
    return;
  }
  if (!unloaded_) {
    unloaded_ = true;
    guarded([this] { core_->closeLink(); });
  }
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Only a move of the focus inside the window counts; another window or a
    // message box taking over leaves the box as it is.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      const QVariant slot = watched->property("slot");
      if (slot.isValid() && !unloaded_) {
        const int k = slot.toInt();
        guarded([this, k] { core_->entryLeft(k); });
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

// --- UnitView ---------------------------------------------------------------

std::string MainWindow::entryText(int slot) const {
  if (slot < 0 || slot >= 32) return {};
  return entryBoxes_[slot]->text().toStdString();
}

void MainWindow::setEntryText(int slot, const std::string& text) {
  if (slot < 0 || slot >= 32) return;
  const QString q = qs(text);
  if (entryBoxes_[slot]->text() == q) return;  // an unchanged text raises nothing
  entryBoxes_[slot]->setText(q);
}

void MainWindow::focusEntry(int slot) {
  if (slot < 0 || slot >= 32) return;
  QLineEdit* box = entryBoxes_[slot];
  if (box->isEnabled()) box->setFocus(Qt::OtherFocusReason);
}

std::string MainWindow::pulseWidthText() const {
  return pulseWidthBox_->text().toStdString();
}

void MainWindow::setPulseWidthText(const std::string& text) {
  const QString q = qs(text);
  if (pulseWidthBox_->text() == q) return;
  pulseWidthBox_->setText(q);
}

void MainWindow::setReferenceValue(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseRow) setAutoSizeText(referenceLabels_[row], qs(text));
}

void MainWindow::setReferenceUnit(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseRow) setAutoSizeText(referenceUnitLabels_[row], qs(text));
}

void MainWindow::setDescriptionValue(int row, const std::string& text) {
  if (row >= 0 && row < 32) setAutoSizeText(descriptionLabels_[row], qs(text));
}

void MainWindow::setCurrentValue(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseRow) setAutoSizeText(currentLabels_[row], qs(text));
}

void MainWindow::setButtonEnabled(Button b, bool enabled) {
  switch (b) {
    case Button::Update:
      updateButton_->setEnabled(enabled);
      break;
    case Button::Close:
      closeButton_->setEnabled(enabled);
      break;
    case Button::Default:
      defaultButton_->setEnabled(enabled);
      break;
  }
}

}  // namespace ku::ui
