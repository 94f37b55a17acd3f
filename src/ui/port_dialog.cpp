#include "ui/port_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/folders.h"
#include "ui/classic_look.h"
#include "ui/qt_text.h"
#include "ui/twips.h"

namespace ku::ui {

namespace {

enum Column { Device, Description, Manufacturer, SerialNumber, StableName, ColumnCount };

// Where a path finally leads, so that a link and its device compare equal; a
// link whose device is gone, the path it names.
QString resolved(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  if (!canonical.isEmpty()) return canonical;
  return info.isSymLink() ? info.symLinkTarget() : path;
}

QLabel* wrappedLabel(const QString& name, const QString& accessibleName, QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setAccessibleName(accessibleName);
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(true);
  return l;
}

}  // namespace

bool sameDevice(const QString& a, const QString& b) {
  return !a.isEmpty() && !b.isEmpty() && resolved(a) == resolved(b);
}

QString portDestinationText(const Folders& folders) {
  const std::string folder = folders.settingsFolder();
  if (folders.settingsFile.exists && folder == folders.programDir) {
    return QStringLiteral(
               "comms.ini (port 1) and the link com1 to the chosen port are written to %1, the "
               "program's own folder: its comms.ini is the one in use, and wins over your "
               "settings folder.")
        .arg(qs(folder));
  }
  return QStringLiteral(
             "comms.ini (port 1) and the link com1 to the chosen port are written to your "
             "settings folder, %1.")
      .arg(qs(folder));
}

PortDialog::PortDialog(PortLister listPorts, const QString& destination,
                       const QString& currentDevice, QWidget* parent)
    : QDialog(parent), listPorts_(std::move(listPorts)), currentDevice_(currentDevice) {
  setObjectName(QStringLiteral("portDialog"));
  setWindowTitle(QStringLiteral("Port"));
  setAccessibleName(QStringLiteral("Port"));
  setAccessibleDescription(
      QStringLiteral("Chooses the serial port the unit is wired to; it becomes port 1."));
  setFont(defaultFont());

  intro_ = wrappedLabel(QStringLiteral("portIntro"), QStringLiteral("About this dialog"), this);
  intro_->setText(
      QStringLiteral("Choose the serial port the unit is wired to. Where a port has a stable "
                     "name, port 1 is linked to it, so it stays the same whichever USB socket "
                     "the adapter is in. The port is then set up and the unit read back."));

  table_ = new QTreeWidget(this);
  table_->setObjectName(QStringLiteral("ports"));
  table_->setAccessibleName(QStringLiteral("Serial ports"));
  table_->setAccessibleDescription(
      QStringLiteral("One row per serial port: device, description, manufacturer, serial "
                     "number and its stable name under /dev/serial/by-id."));
  table_->setColumnCount(ColumnCount);
  table_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"),
                           QStringLiteral("Manufacturer"), QStringLiteral("Serial number"),
                           QStringLiteral("Stable name")});
  table_->setRootIsDecorated(false);
  table_->setUniformRowHeights(true);
  table_->setAllColumnsShowFocus(true);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->header()->setStretchLastSection(true);
  table_->setMinimumSize(px(9000), px(2400));

  none_ = wrappedLabel(QStringLiteral("noPorts"), QStringLiteral("No serial port"), this);
  none_->setText(
      QStringLiteral("No serial port was found. Plug the USB serial adapter in and press "
                     "Refresh."));

  destination_ = wrappedLabel(QStringLiteral("portDestination"),
                              QStringLiteral("Where the choice is written"), this);
  destination_->setText(destination);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->setObjectName(QStringLiteral("portButtons"));
  buttons_->button(QDialogButtonBox::Ok)
      ->setAccessibleDescription(
          QStringLiteral("Makes the chosen port port 1, then sets it up and reads the unit back."));
  buttons_->button(QDialogButtonBox::Cancel)
      ->setAccessibleDescription(QStringLiteral("Leaves the port as it is."));
  refresh_ = buttons_->addButton(QStringLiteral("&Refresh"), QDialogButtonBox::ActionRole);
  refresh_->setObjectName(QStringLiteral("refreshPorts"));
  refresh_->setAccessibleDescription(
      QStringLiteral("Lists the serial ports again, after an adapter was plugged in."));
  // Plain buttons, as on the message boxes: some styles put icons on them.
  for (QAbstractButton* b : buttons_->buttons()) b->setIcon(QIcon());
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(refresh_, &QPushButton::clicked, this, [this] { refresh(); });
  connect(table_, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
  connect(table_, &QTreeWidget::itemActivated, this, [this] {
    if (chosenPort()) accept();
  });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro_);
  layout->addWidget(table_, 1);
  layout->addWidget(none_);
  layout->addWidget(destination_);
  layout->addWidget(buttons_);

  fill(resolved(currentDevice));
}

void PortDialog::refresh() {
  const std::optional<SerialPortEntry> chosen = chosenPort();
  fill(chosen ? resolved(qs(chosen->device)) : QString());
}

void PortDialog::fill(const QString& keepDevice) {
  ports_ = listPorts_ ? listPorts_() : std::vector<SerialPortEntry>{};
  const bool listed = std::any_of(ports_.begin(), ports_.end(), [this](const SerialPortEntry& p) {
    return sameDevice(qs(p.device), currentDevice_);
  });
  if (!currentDevice_.isEmpty() && !listed)
    ports_.insert(ports_.begin(), SerialPortEntry{resolved(currentDevice_).toStdString(),
                                                  "In use now", "", "", ""});
  table_->clear();
  QTreeWidgetItem* keep = nullptr;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    const SerialPortEntry& p = ports_[i];
    auto* item = new QTreeWidgetItem(table_);
    item->setText(Device, qs(p.device));
    item->setText(Description, qs(p.description));
    item->setText(Manufacturer, qs(p.manufacturer));
    item->setText(SerialNumber, qs(p.serialNumber));
    item->setText(StableName, qs(p.stablePath));
    item->setToolTip(StableName, qs(p.stablePath));
    item->setData(Device, Qt::UserRole, static_cast<int>(i));
    if (!keep && !keepDevice.isEmpty() && resolved(qs(p.device)) == keepDevice) keep = item;
  }
  for (int c = 0; c < ColumnCount - 1; ++c) table_->resizeColumnToContents(c);
  const bool any = !ports_.empty();
  table_->setVisible(any);
  none_->setVisible(!any);
  if (any) {
    table_->setCurrentItem(keep ? keep : table_->topLevelItem(0));
    table_->setFocus(Qt::OtherFocusReason);
  }
  updateButtons();
}

std::optional<SerialPortEntry> PortDialog::chosenPort() const {
  const QList<QTreeWidgetItem*> chosen = table_->selectedItems();
  if (chosen.isEmpty()) return std::nullopt;
  const int i = chosen.front()->data(Device, Qt::UserRole).toInt();
  if (i < 0 || static_cast<std::size_t>(i) >= ports_.size()) return std::nullopt;
  return ports_[static_cast<std::size_t>(i)];
}

void PortDialog::updateButtons() {
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(chosenPort().has_value());
}

}  // namespace ku::ui
