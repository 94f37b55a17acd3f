#include "ui/form1.h"

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

Form1::Form1(Module1& module, Form1Deps deps) : QWidget(nullptr), module_(module) {
  setObjectName(QStringLiteral("Form1"));
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
  if (!port) port = std::make_unique<QtSerialPort>(module_.programDir);

  core_ =
      std::make_unique<Form1Core>(module_, *this, *notifier, *sleeper, std::move(port), *opener);
  connectHandlers();
  text1_[1]->setFocus(Qt::OtherFocusReason);
}

Form1::~Form1() {
  // Handlers must not run on a half-destroyed window.
  for (QLineEdit* box : text1_) box->disconnect(this);
  text2_->disconnect(this);
  for (QLineEdit* box : text1_) box->removeEventFilter(this);
}

void Form1::buildRows() {
  struct Heading {
    const char* name;
    int left;
    const char* caption;
  };
  const Heading headings[] = {{"Label1", 480, "Variable Name"},
                              {"Label2", 2280, "Current Value"},
                              {"Label3", 3960, "New Value"},
                              {"Label4", 5160, "Reference Values"},
                              {"Label164", 7080, "Description"}};
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
    rowLabels_[k] = makeLabel(QStringLiteral("Label%1").arg(k + 5), qs(slotInfo(k).rowLabel),
                              kLabelColumn, top);
    label37_[k] = makeLabel(indexed("Label37", k), QString(), kCurrentColumn, top);

    auto* box = new QLineEdit(this);
    box->setObjectName(indexed("Text1", k));
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
    text1_[k] = box;

    label38_[k] = makeLabel(indexed("Label38", k), qs(fixed.label38), kReferenceColumn, top);
    label39_[k] = makeLabel(indexed("Label39", k), qs(fixed.label39), kUnitColumn, top);
    label40_[k] = makeLabel(indexed("Label40", k), qs(fixed.label40), kDescriptionColumn, top);
    label41_[k] = makeLabel(indexed("Label41", k), QString(), kDescriptionValueColumn,
                            k == 18 ? top + 30 : top);
    label42_[k] = makeLabel(indexed("Label42", k), qs(fixed.label42), kDescriptionUnitColumn, top);
  }

  // The pulse-width row.
  const int top = rowTop(kPulseRow);
  const FixedTexts& fixed = fixedTexts(kPulseRow);
  label43_ = makeLabel(QStringLiteral("Label43"), QStringLiteral("E/S Min Pulse width"),
                       kLabelColumn, top);
  label37_[kPulseRow] =
      makeLabel(indexed("Label37", kPulseRow), QStringLiteral("N/A"), kCurrentColumn, top);
  text2_ = new QLineEdit(QStringLiteral("0"), this);
  text2_->setObjectName(QStringLiteral("Text2"));
  text2_->setGeometry(twipRect(kBoxColumn, top, 1095, 285));
  text2_->setToolTip(QStringLiteral("E/S Min Pulse width"));
  label38_[kPulseRow] =
      makeLabel(indexed("Label38", kPulseRow), qs(fixed.label38), kReferenceColumn, top);
  label39_[kPulseRow] =
      makeLabel(indexed("Label39", kPulseRow), qs(fixed.label39), kUnitColumn, top);
}

void Form1::buildButtons() {
  auto makeButton = [this](const char* name, const char* caption, int left, int width) {
    auto* b = new QPushButton(qs(caption), this);
    b->setObjectName(qs(name));
    b->setFont(defaultFont());
    b->setGeometry(twipRect(left, 10080, width, 255));
    b->setAutoDefault(false);
    return b;
  };
  command3_ = makeButton("Command3", "Default", 2760, 1095);
  command1_ = makeButton("Command1", "Update", 3840, 1215);
  command2_ = makeButton("Command2", "Close", 5040, 1215);
}

void Form1::buildTabOrder() {
  QWidget* previous = text1_[0];
  auto chain = [&previous](QWidget* next) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  };
  for (int k = 1; k < 32; ++k) chain(text1_[k]);
  chain(command1_);
  chain(command2_);
  chain(text2_);
  chain(command3_);
}

void Form1::connectHandlers() {
  for (int k = 0; k < 32; ++k) {
    connect(text1_[k], &QLineEdit::textChanged, this,
            [this, k] { guarded([this, k] { core_->Text1_Change(k); }); });
    text1_[k]->installEventFilter(this);
  }
  connect(text2_, &QLineEdit::textChanged, this,
          [this] { guarded([this] { core_->Text2_Change(); }); });
  connect(command1_, &QPushButton::clicked, this,
          [this] { exchange([this] { core_->Command1_Click(); }); });
  connect(command3_, &QPushButton::clicked, this,
          [this] { exchange([this] { core_->Command3_Click(); }); });
  connect(command2_, &QPushButton::clicked, this, [this] { close(); });
}

void Form1::guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception&) {
    // The operations report to the operator themselves; what escapes them
    // ends only the handler that ran it.
  }
}

void Form1::exchange(const std::function<void()>& work) {
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

LoadResult Form1::load() {
  LoadResult result{LoadOutcome::Unlinked, 0, {}};
  exchange([this, &result] { result = core_->Form_Load(); });
  return result;
}

void Form1::closeEvent(QCloseEvent* event) {
  if (busy_ > 0) {
    // The exchange finishes first; the window closes right after it.
    closePending_ = true;
    event->ignore();
    return;
  }
  if (!unloaded_) {
    unloaded_ = true;
    guarded([this] { core_->Form_Unload(); });
  }
  event->accept();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Only a move of the focus inside the window counts; another window or a
    // message box taking over leaves the box as it is.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      const QVariant slot = watched->property("slot");
      if (slot.isValid() && !unloaded_) {
        const int k = slot.toInt();
        guarded([this, k] { core_->Text1_LostFocus(k); });
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

// --- Form1View ---------------------------------------------------------------

std::string Form1::entryText(int slot) const {
  if (slot < 0 || slot >= 32) return {};
  return text1_[slot]->text().toStdString();
}

void Form1::setEntryText(int slot, const std::string& text) {
  if (slot < 0 || slot >= 32) return;
  const QString q = qs(text);
  if (text1_[slot]->text() == q) return;  // an unchanged text raises nothing
  text1_[slot]->setText(q);
}

void Form1::focusEntry(int slot) {
  if (slot < 0 || slot >= 32) return;
  QLineEdit* box = text1_[slot];
  if (box->isEnabled()) box->setFocus(Qt::OtherFocusReason);
}

std::string Form1::pulseWidthText() const {
  return text2_->text().toStdString();
}

void Form1::setPulseWidthText(const std::string& text) {
  const QString q = qs(text);
  if (text2_->text() == q) return;
  text2_->setText(q);
}

void Form1::setReferenceValue(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseRow) setAutoSizeText(label38_[row], qs(text));
}

void Form1::setReferenceUnit(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseRow) setAutoSizeText(label39_[row], qs(text));
}

void Form1::setDescriptionValue(int row, const std::string& text) {
  if (row >= 0 && row < 32) setAutoSizeText(label41_[row], qs(text));
}

void Form1::setCurrentValue(int row, const std::string& text) {
  if (row >= 0 && row <= kPulseRow) setAutoSizeText(label37_[row], qs(text));
}

void Form1::setButtonEnabled(Button b, bool enabled) {
  switch (b) {
    case Button::Update:
      command1_->setEnabled(enabled);
      break;
    case Button::Close:
      command2_->setEnabled(enabled);
      break;
    case Button::Default:
      command3_->setEnabled(enabled);
      break;
  }
}

}  // namespace ku::ui
