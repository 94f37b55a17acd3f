// The Unit > Port... dialog: the serial ports of this computer in a table (as
// kuctl ports lists them), one of which the operator makes port 1.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "app/serial_ports.h"

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace ku {
struct Folders;
}

namespace ku::ui {

// Gives the ports to list; the window's is listSerialPorts, a test's a fixed list.
using PortLister = std::function<std::vector<SerialPortEntry>()>;

// Where the choice goes, in words for the dialog: the folder whose comms.ini the
// program reads (the program's own folder for a portable copy), else the user's
// settings folder.
QString portDestinationText(const Folders& folders);

// Whether two paths lead to the same device: links are followed to the end; a
// link whose device is gone stands for the path it names.
bool sameDevice(const QString& a, const QString& b);

class PortDialog : public QDialog {
  Q_OBJECT

 public:
  // listPorts is asked at once and again on Refresh. The row of currentDevice
  // (the device port 1 opens now, compared as resolved paths) starts chosen,
  // else the first row; when listPorts does not give it (a pseudo-terminal, an
  // adapter pulled out), a row of its own is listed first.
  PortDialog(PortLister listPorts, const QString& destination, const QString& currentDevice,
             QWidget* parent = nullptr);

  // The port of the chosen row; none when there is no row.
  std::optional<SerialPortEntry> chosenPort() const;
  // Lists the ports again, keeping the chosen device where it is still there.
  void refresh();

 private:
  void fill(const QString& keepDevice);
  void updateButtons();

  PortLister listPorts_;
  QString currentDevice_;
  std::vector<SerialPortEntry> ports_;
  QLabel* intro_ = nullptr;
  QTreeWidget* table_ = nullptr;
  QLabel* none_ = nullptr;
  QLabel* destination_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  QPushButton* refresh_ = nullptr;
};

}  // namespace ku::ui
