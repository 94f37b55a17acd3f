// Unit > Port...: the dialog that lists the serial ports, and the window making
// the chosen one port 1 (comms.ini and a com1 link where the program reads its
// settings) before it sets the port up and reads the unit back again.
#include <unistd.h>

#include <QAction>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <utility>

#include "app/folders.h"
#include "expected.h"
#include "simulator.h"
#include "test_ui_support.h"
#include "ui/port_dialog.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ui::MainWindow;
using ui::PortDialog;

const char kAdapterById[] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";

std::vector<SerialPortEntry> twoPorts() {
  return {{"/dev/ttyS0", "", "", "", ""},
          {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A1B2C3", kAdapterById}};
}

QString readText(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("<unreadable>");
  return QString::fromUtf8(f.readAll());
}

std::string linkTarget(const std::string& path) {
  std::error_code ec;
  const auto target = std::filesystem::read_symlink(path, ec);
  return ec ? "<not a link>" : target.string();
}

QTreeWidget* portTable(QWidget* dialog) {
  return child<QTreeWidget>(dialog, QStringLiteral("ports"));
}
QPushButton* dialogButton(QWidget* dialog, QDialogButtonBox::StandardButton which) {
  auto* box = child<QDialogButtonBox>(dialog, QStringLiteral("portButtons"));
  return box ? box->button(which) : nullptr;
}

// --- the dialog alone -----------------------------------------------------------

TEST(PortDialog, ListsTheGivenPortsAndChoosesTheRowOfTheCurrentDevice) {
  PortDialog dialog([] { return twoPorts(); }, QStringLiteral("written somewhere"),
                    QStringLiteral("/dev/ttyUSB0"));
  QTreeWidget* table = portTable(&dialog);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->topLevelItemCount(), 2);
  const QStringList headings{"Device", "Description", "Manufacturer", "Serial number",
                             "Stable name"};
  for (int c = 0; c < headings.size(); ++c) EXPECT_EQ(table->headerItem()->text(c), headings[c]);
  const QStringList adapter{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A1B2C3", kAdapterById};
  const QStringList onBoard{"/dev/ttyS0", "", "", "", ""};
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(table->topLevelItem(0)->text(c), onBoard[c]) << c;
    EXPECT_EQ(table->topLevelItem(1)->text(c), adapter[c]) << c;
  }
  EXPECT_EQ(table->accessibleName(), "Serial ports");
  EXPECT_FALSE(table->accessibleDescription().isEmpty());
  EXPECT_EQ(dialog.windowTitle(), "Port");
  EXPECT_EQ(labelText(&dialog, "portDestination"), "written somewhere");
  EXPECT_FALSE(child<QLabel>(&dialog, "noPorts")->isVisibleTo(&dialog));

  // The port in use is chosen at first; OK takes the chosen row.
  ASSERT_TRUE(dialog.chosenPort().has_value());
  EXPECT_EQ(dialog.chosenPort()->device, "/dev/ttyUSB0");
  EXPECT_EQ(dialog.chosenPort()->preferredPath(), kAdapterById);
  EXPECT_TRUE(dialogButton(&dialog, QDialogButtonBox::Ok)->isEnabled());
  table->setCurrentItem(table->topLevelItem(0));
  EXPECT_EQ(dialog.chosenPort()->device, "/dev/ttyS0");
  EXPECT_EQ(dialog.chosenPort()->preferredPath(), "/dev/ttyS0");
}

// A file in dir standing for a device, and a link to it there: the link's path.
std::string deviceBehindLink(const QTemporaryDir& dir, const char* device, const char* link) {
  const QString target = dir.filePath(QString::fromUtf8(device));
  QFile(target).open(QIODevice::WriteOnly);
  const std::string path = dir.filePath(QString::fromUtf8(link)).toStdString();
  EXPECT_EQ(::symlink(target.toStdString().c_str(), path.c_str()), 0);
  return path;
}

TEST(PortDialog, TheCurrentDeviceMatchesThroughLinks) {
  QTemporaryDir dir;
  const std::string device = dir.filePath("ttyUSB7").toStdString();
  const std::string link = deviceBehindLink(dir, "ttyUSB7", "com1");
  PortDialog dialog(
      [&] {
        return std::vector<SerialPortEntry>{{"/dev/ttyS0", "", "", "", ""},
                                            {device, "", "", "", ""}};
      },
      QString(), QString::fromStdString(link));
  ASSERT_TRUE(dialog.chosenPort().has_value());
  EXPECT_EQ(dialog.chosenPort()->device, device);

  // With no current device the first row is chosen.
  PortDialog fresh([&] { return twoPorts(); }, QString(), QString());
  EXPECT_EQ(fresh.chosenPort()->device, "/dev/ttyS0");
}

// The device in use is listed even where the system's list leaves it out: a
// pseudo-terminal, or an adapter pulled out (its link then names a missing device).
TEST(PortDialog, TheDeviceInUseIsListedFirstWhenTheListLeavesItOut) {
  QTemporaryDir dir;
  const std::string pty = dir.filePath("pts7").toStdString();
  const std::string link = deviceBehindLink(dir, "pts7", "com1");
  const std::string gone = dir.filePath("com2").toStdString();
  ASSERT_EQ(::symlink("/dev/serial/by-id/usb-gone-if00", gone.c_str()), 0);

  for (const auto& [current, shown] :
       {std::pair{link, pty}, std::pair{gone, std::string("/dev/serial/by-id/usb-gone-if00")}}) {
    SCOPED_TRACE(current);
    PortDialog dialog([] { return twoPorts(); }, QString(), QString::fromStdString(current));
    QTreeWidget* table = portTable(&dialog);
    ASSERT_EQ(table->topLevelItemCount(), 3);
    EXPECT_EQ(table->topLevelItem(0)->text(0), QString::fromStdString(shown));
    EXPECT_EQ(table->topLevelItem(0)->text(1), "In use now");
    EXPECT_EQ(table->topLevelItem(1)->text(0), "/dev/ttyS0");
    ASSERT_TRUE(dialog.chosenPort().has_value());
    EXPECT_EQ(dialog.chosenPort()->preferredPath(), shown);
    EXPECT_TRUE(ui::sameDevice(QString::fromStdString(shown), QString::fromStdString(current)));
    // A refresh lists it again.
    dialog.refresh();
    EXPECT_EQ(table->topLevelItemCount(), 3);
    EXPECT_EQ(dialog.chosenPort()->preferredPath(), shown);
  }
  // Listed by the system, it is not listed twice.
  PortDialog listed([] { return twoPorts(); }, QString(), QStringLiteral("/dev/ttyS0"));
  EXPECT_EQ(portTable(&listed)->topLevelItemCount(), 2);
  EXPECT_FALSE(ui::sameDevice(QString::fromStdString(pty), QString::fromStdString(gone)));
  EXPECT_FALSE(ui::sameDevice(QString(), QString()));
}

TEST(PortDialog, NoPortSaysSoAndRefreshFindsTheAdapterPluggedInLater) {
  std::vector<SerialPortEntry> present;
  PortDialog dialog([&] { return present; }, QString(), QString());
  auto* none = child<QLabel>(&dialog, "noPorts");
  EXPECT_TRUE(none->isVisibleTo(&dialog));
  EXPECT_EQ(none->text(),
            "No serial port was found. Plug the USB serial adapter in and press Refresh.");
  EXPECT_FALSE(portTable(&dialog)->isVisibleTo(&dialog));
  EXPECT_FALSE(dialogButton(&dialog, QDialogButtonBox::Ok)->isEnabled());
  EXPECT_FALSE(dialog.chosenPort().has_value());

  present = twoPorts();
  child<QPushButton>(&dialog, "refreshPorts")->click();
  EXPECT_FALSE(none->isVisibleTo(&dialog));
  EXPECT_EQ(portTable(&dialog)->topLevelItemCount(), 2);
  EXPECT_TRUE(dialogButton(&dialog, QDialogButtonBox::Ok)->isEnabled());

  // A refresh keeps the chosen port where it is still there, wherever its row went.
  portTable(&dialog)->setCurrentItem(portTable(&dialog)->topLevelItem(1));
  present = {{"/dev/ttyACM0", "", "", "", ""}, twoPorts()[1], twoPorts()[0]};
  dialog.refresh();
  EXPECT_EQ(dialog.chosenPort()->device, "/dev/ttyUSB0");
}

TEST(PortDialog, DestinationNamesTheFolderTheProgramReads) {
  Folders user;
  user.programDir = "/opt/ku";
  user.userSettingsDir = "/home/op/.config/ku-utility";
  user.settingsFile = {"/home/op/.config/ku-utility/comms.ini", "", false};
  EXPECT_EQ(ui::portDestinationText(user),
            "comms.ini (port 1) and the link com1 to the chosen port are written to your "
            "settings folder, /home/op/.config/ku-utility.");
  Folders portable = user;
  portable.settingsFile = {"/opt/ku/comms.ini", "beside the program", true};
  EXPECT_EQ(ui::portDestinationText(portable),
            "comms.ini (port 1) and the link com1 to the chosen port are written to /opt/ku, "
            "the program's own folder: its comms.ini is the one in use, and wins over your "
            "settings folder.");
}

// --- the window -----------------------------------------------------------------

class PortChoiceTest : public FakeUnitWindowTest<> {
 protected:
  void SetUp() override {
    FakeUnitWindowTest::SetUp();
    ASSERT_TRUE(config.isValid());
    savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    userDir = config.path().toStdString() + "/ku-utility";
    dir.copyReferenceDb();
  }
  void TearDown() override {
    FakeUnitWindowTest::TearDown();
    qputenv("XDG_CONFIG_HOME", savedConfigHome);
  }

  void writeUserFile(const char* name, const char* text) {
    QDir().mkpath(QString::fromStdString(userDir));
    QFile f(QString::fromStdString(userDir + "/" + name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }

  // The window as the program opens it: folders resolved, then the load step.
  MainWindow* open(LoadOutcome expected) {
    useFolders(context, resolveFolders(FolderEnvironment::ofProcess(dir.path())));
    MainWindow* w = openWindow(
        {}, [](ui::MainWindowDeps& deps) { deps.listPorts = [] { return twoPorts(); }; });
    // Rejected greys "Update"; linked reads all 32 slots.
    const bool linked = w->controller().slotsReadAtLastReadBack() == 32;
    const bool rejected = !button(w, "update")->isEnabled();
    EXPECT_EQ(expected == LoadOutcome::Linked, linked);
    EXPECT_EQ(expected == LoadOutcome::Rejected, rejected);
    return w;
  }

  QTemporaryDir config;
  QByteArray savedConfigHome;
  std::string userDir;  // dir, the program's folder, holds no comms.ini unless a test writes one
};

TEST_F(PortChoiceTest, TheActionFollowsReadBackInTheUnitMenu) {
  MainWindow* w = open(LoadOutcome::Rejected);
  auto* menu = child<QMenu>(w, "unitMenu");
  ASSERT_NE(menu, nullptr);
  QStringList names;
  for (QAction* a : menu->actions()) names << a->objectName();
  const auto at = names.indexOf("readBack");
  ASSERT_GE(at, 0);
  ASSERT_LT(at + 1, names.size());
  QAction* portAction = menu->actions()[at + 1];
  EXPECT_EQ(portAction->objectName(), "port");
  EXPECT_EQ(portAction->text(), "&Port...");
  EXPECT_FALSE(portAction->statusTip().isEmpty());
  // The way out of a rejected port stays open.
  EXPECT_TRUE(portAction->isEnabled());
}

TEST_F(PortChoiceTest, ChoosingAPortAfterAnInvalidOneWritesTheUserSettingsAndReadsTheUnit) {
  MainWindow* w = open(LoadOutcome::Rejected);  // no comms.ini anywhere
  ASSERT_EQ(notifier.messages, std::vector<std::string>{kInvalidPortMessage});
  ASSERT_FALSE(button(w, "update")->isEnabled());
  unit.values[8] = 77;

  ASSERT_TRUE(w->usePort(twoPorts()[1]));
  settle();
  EXPECT_EQ(readText(userDir + "/comms.ini"), "Port,1\n");
  EXPECT_EQ(linkTarget(userDir + "/com1"), kAdapterById);
  EXPECT_EQ(context.settingsFile, userDir + "/comms.ini");
  EXPECT_EQ(context.linkFolder, userDir);
  EXPECT_FALSE(QFileInfo::exists(dir.dir.filePath("comms.ini")));

  // No port was open, so no close byte: the read-back alone, on port 1.
  EXPECT_EQ(port->written, " qx");
  EXPECT_EQ(port->closeCalls, 0);
  EXPECT_EQ(port->calls.front(), "Open");
  EXPECT_EQ(port->portNumber, 1);
  EXPECT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(labelText(w, "current_8"), "77");
  EXPECT_EQ(labelText(w, "current_0"), "3");
  for (const char* b : {"update", "close", "default"}) EXPECT_TRUE(button(w, b)->isEnabled()) << b;
  EXPECT_TRUE(child<QAction>(w, "readBack")->isEnabled());
  EXPECT_TRUE(status().startsWith(QStringLiteral("Port 1 is now %1 (set in %2). Read back 32 of "
                                                 "32 slots at ")
                                      .arg(kAdapterById, QString::fromStdString(userDir))))
      << status().toStdString();
}

TEST_F(PortChoiceTest, AnOpenPortGetsItsCloseByteBeforeTheNewPortIsSetUp) {
  writeUserFile("comms.ini", "\"Port\",2\n");
  MainWindow* w = open(LoadOutcome::Linked);
  ASSERT_TRUE(notifier.messages.empty());
  ASSERT_EQ(port->portNumber, 2);
  ASSERT_EQ(port->written, " qx");
  unit.values[8] = 99;

  ASSERT_TRUE(w->usePort(twoPorts()[1]));
  settle();
  EXPECT_EQ(port->written, " qx! qx");
  EXPECT_EQ(port->closeCalls, 1);
  EXPECT_EQ(port->portNumber, 1);
  EXPECT_EQ(readText(userDir + "/comms.ini"), "Port,1\n");
  EXPECT_EQ(linkTarget(userDir + "/com1"), kAdapterById);
  EXPECT_EQ(labelText(w, "current_8"), "99");
  EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(PortChoiceTest, ANewPortThatIsInvalidForgetsTheOldUnitsValues) {
  writeUserFile("comms.ini", "Port,2\n");
  MainWindow* w = open(LoadOutcome::Linked);
  ASSERT_EQ(labelText(w, "current_4"), "799");
  ASSERT_FALSE(labelText(w, "reference_4").isEmpty());
  port->maxPortNumber = 0;  // port 1 is no port at all now

  ASSERT_TRUE(w->usePort(twoPorts()[0]));
  settle();
  EXPECT_EQ(linkTarget(userDir + "/com1"), "/dev/ttyS0");
  EXPECT_EQ(port->written, " qx!");
  EXPECT_EQ(notifier.messages, std::vector<std::string>{kInvalidPortMessage});
  EXPECT_FALSE(button(w, "update")->isEnabled());
  EXPECT_FALSE(button(w, "default")->isEnabled());
  EXPECT_TRUE(button(w, "close")->isEnabled());
  // Nothing of the unit on the old port stays on show.
  for (int k = 0; k < 32; ++k)
    EXPECT_EQ(labelText(w, QStringLiteral("current_%1").arg(k)), "") << k;
  EXPECT_EQ(labelText(w, "reference_4"), "");
  EXPECT_EQ(labelText(w, "reference_0"), "N/A");
  EXPECT_EQ(labelText(w, "description_5"), "");

  // Close sends nothing more: the port number was rejected.
  w->close();
  settle();
  EXPECT_EQ(port->written, " qx!");
}

TEST_F(PortChoiceTest, AHeldNewPortLeavesNoReadBackToUploadFrom) {
  writeUserFile("comms.ini", "Port,2\n");
  MainWindow* w = open(LoadOutcome::Linked);
  port->failures["Open"] = kPortAlreadyOpen;
  ASSERT_TRUE(w->usePort(twoPorts()[1]));
  settle();
  EXPECT_EQ(port->written, " qx!");
  EXPECT_TRUE(button(w, "update")->isEnabled());
  EXPECT_TRUE(notifier.messages.empty());
  // "Update" now refuses: the old unit's values are not this port's.
  button(w, "update")->click();
  settle();
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0].rfind("Nothing was sent to the unit. Its set-up has not been read "
                                       "back",
                                       0),
            0u)
      << notifier.messages[0];
  EXPECT_EQ(port->written, " qx!");
}

TEST_F(PortChoiceTest, ARefusedChoiceChangesNothingAndSaysWhy) {
  writeUserFile("comms.ini", "Port,2\n");
  writeUserFile("com1", "not a link");
  MainWindow* w = open(LoadOutcome::Linked);
  const std::string settingsBefore = context.settingsFile;
  const std::string linksBefore = context.linkFolder;

  EXPECT_TRUE(w->usePort(twoPorts()[1]));
  settle();
  EXPECT_EQ(notifier.messages,
            std::vector<std::string>{"The port was not changed: " + userDir +
                                     "/com1 is not a symbolic link; it was left as it is."});
  EXPECT_EQ(readText(userDir + "/comms.ini"), "Port,2\n");
  EXPECT_EQ(readText(userDir + "/com1"), "not a link");
  EXPECT_EQ(port->written, " qx");
  EXPECT_EQ(port->closeCalls, 0);
  EXPECT_EQ(context.settingsFile, settingsBefore);
  EXPECT_EQ(context.linkFolder, linksBefore);
}

TEST_F(PortChoiceTest, AFolderThatCannotBeMadeIsRefused) {
  // The settings folder's place is taken by a file.
  QFile blocker(QString::fromStdString(userDir));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  MainWindow* w = open(LoadOutcome::Rejected);
  notifier.messages.clear();
  EXPECT_TRUE(w->usePort(twoPorts()[1]));
  settle();
  EXPECT_EQ(notifier.messages, std::vector<std::string>{"The port was not changed: cannot make "
                                                        "the folder " +
                                                        userDir + "."});
  EXPECT_TRUE(port->written.empty());
  EXPECT_EQ(port->openCalls, 0);
}

TEST_F(PortChoiceTest, APortableCopyGetsTheChoiceInItsOwnFolder) {
  dir.writeCommsIni("Port,3\n");
  MainWindow* w = open(LoadOutcome::Linked);
  ASSERT_EQ(port->portNumber, 3);
  ASSERT_TRUE(w->usePort(twoPorts()[1]));
  settle();
  // Beside the program, where it reads: the user's folder would be passed over.
  EXPECT_EQ(readText(dir.path() + "/comms.ini"), "Port,1\n");
  EXPECT_EQ(linkTarget(dir.path() + "/com1"), kAdapterById);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(userDir)));
  EXPECT_EQ(port->portNumber, 1);
  EXPECT_EQ(port->written, " qx! qx");
}

TEST_F(PortChoiceTest, OkOnTheDeviceInUseChangesNothing) {
  const std::string device = config.filePath("pts3").toStdString();
  QFile(QString::fromStdString(device)).open(QIODevice::WriteOnly);
  writeUserFile("comms.ini", "\"Port\",1\n");
  QDir().mkpath(QString::fromStdString(userDir));
  ASSERT_EQ(::symlink(device.c_str(), (userDir + "/com1").c_str()), 0);
  MainWindow* w = open(LoadOutcome::Linked);

  EXPECT_FALSE(w->usePort(SerialPortEntry{device, "In use now", "", "", ""}));
  settle();
  EXPECT_EQ(readText(userDir + "/comms.ini"), "\"Port\",1\n");
  EXPECT_EQ(linkTarget(userDir + "/com1"), device);
  EXPECT_EQ(port->written, " qx");
  EXPECT_EQ(port->closeCalls, 0);
  EXPECT_EQ(port->openCalls, 1);
  EXPECT_EQ(
      status(),
      QStringLiteral("The port stays %1; nothing was changed").arg(QString::fromStdString(device)));
  EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(PortChoiceTest, ANewDeviceThatDoesNotOpenLeavesTheSettingsAndThePortInUse) {
  writeUserFile("comms.ini", "Port,2\n");
  std::vector<std::string> tried;
  useFolders(context, resolveFolders(FolderEnvironment::ofProcess(dir.path())));
  MainWindow* w = openWindow({}, [&tried](ui::MainWindowDeps& deps) {
    deps.tryPort = [&tried](const std::string& device) {
      tried.push_back(device);
      return device + " is held by another program";
    };
  });
  ASSERT_EQ(port->portNumber, 2);

  ASSERT_TRUE(w->usePort(twoPorts()[1]));
  settle();
  EXPECT_EQ(tried, std::vector<std::string>{kAdapterById});
  EXPECT_EQ(
      notifier.messages,
      std::vector<std::string>{std::string("The port was not changed: ") + kAdapterById +
                               " did not open: " + kAdapterById + " is held by another program."});
  EXPECT_TRUE(status().startsWith("The port was not changed at ")) << status().toStdString();
  EXPECT_EQ(readText(userDir + "/comms.ini"), "Port,2\n");
  EXPECT_FALSE(QFileInfo(QString::fromStdString(userDir + "/com1")).isSymLink());
  // The old port was neither closed nor sent the close byte, and still reads the unit.
  EXPECT_EQ(port->closeCalls, 0);
  EXPECT_TRUE(port->isOpen());
  unit.values[8] = 66;
  action("readBack")->trigger();
  settle();
  EXPECT_EQ(port->written, " qx qx");
  EXPECT_EQ(port->portNumber, 2);
  EXPECT_EQ(labelText(w, "current_8"), "66");
}

// --- a line that comes back -------------------------------------------------------

const QString kLostAdvice =
    QStringLiteral(". The line to the unit was lost. Plug the adapter in, then Unit > Read back");

class LostLineTest : public FakeUnitWindowTest<> {
 protected:
  // The window linked on port 2, then a read-back during which every write fails.
  MainWindow* openThenLoseTheLine() {
    dir.writeCommsIni("Port,2\n");
    MainWindow* w = openWindow();
    EXPECT_EQ(port->written, " qx");
    port->failures["Write"] = kDeviceIo;
    readBack();
    port->failures.clear();
    messagesBefore = notifier.messages.size();
    port->calls.clear();
    return w;
  }
  void readBack() {
    action("readBack")->trigger();
    settle();
  }
  std::size_t messagesBefore = 0;
};

TEST_F(LostLineTest, TheNextReadBackOpensTheSamePortAgain) {
  MainWindow* w = openThenLoseTheLine();
  // Closed after the exchange, with no close byte; the status bar says what to do.
  EXPECT_FALSE(port->isOpen());
  EXPECT_EQ(port->closeCalls, 1);
  EXPECT_TRUE(status().startsWith("Read back 0 of 32 slots at ")) << status().toStdString();
  EXPECT_TRUE(status().endsWith(kLostAdvice)) << status().toStdString();

  unit.values[8] = 42;
  readBack();
  EXPECT_EQ(port->calls.front(), "Open");
  EXPECT_EQ(port->openCalls, 2);
  EXPECT_EQ(port->portNumber, 2);
  EXPECT_EQ(port->written, " qx qx");
  EXPECT_EQ(labelText(w, "current_8"), "42");
  EXPECT_TRUE(status().startsWith("Read back 32 of 32 slots at ")) << status().toStdString();
  EXPECT_FALSE(status().contains("lost"));
  EXPECT_EQ(notifier.messages.size(), messagesBefore);
  EXPECT_TRUE(port->isOpen());
}

TEST_F(LostLineTest, WhileThePortDoesNotOpenNothingIsSentAndTheWindowClosesQuietly) {
  MainWindow* w = openThenLoseTheLine();
  port->failures["Open"] = kInvalidPortNumber;
  const QRegularExpression stillLost(
      "^The line to the unit is still lost: the port did not open again \\(the port number is "
      "not valid\\); nothing was sent or read at \\d\\d:\\d\\d:\\d\\d\\. Plug the adapter in, "
      "then Unit > Read back$");
  readBack();
  EXPECT_TRUE(stillLost.match(status()).hasMatch()) << status().toStdString();
  // "Default" too opens the port first, and goes no further when it does not open.
  button(w, "default")->click();
  settle();
  EXPECT_TRUE(stillLost.match(status()).hasMatch()) << status().toStdString();
  EXPECT_EQ(port->calls, (std::vector<std::string>{"Open", "Open"}));
  EXPECT_EQ(port->written, " qx");
  EXPECT_EQ(notifier.messages.size(), messagesBefore);

  w->close();
  settle();
  EXPECT_EQ(port->written, " qx");
  EXPECT_EQ(port->openCalls, 1);
}

TEST_F(LostLineTest, UpdateOpensThePortAgainBeforeItsChecks) {
  MainWindow* w = openThenLoseTheLine();
  button(w, "update")->click();
  settle();
  // Open again, but the read-back that lost the line left the slots unread.
  EXPECT_EQ(port->calls.front(), "Open");
  EXPECT_TRUE(port->isOpen());
  EXPECT_TRUE(status().startsWith("Nothing was sent: the last read-back left slots unread"))
      << status().toStdString();
  EXPECT_EQ(port->written, " qx");
}

// Runs act on the port dialog once it is up.
void answerPortDialog(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
      dialog = QApplication::activeModalWidget();
      return dialog && dialog->objectName() == "portDialog";
    }));
    act(dialog);
  });
}

// The menu, the dialog and its buttons as the operator uses them.
TEST_F(PortChoiceTest, ThroughTheMenuOkTakesTheChosenRowAndCancelNothing) {
  MainWindow* w = open(LoadOutcome::Rejected);
  notifier.messages.clear();
  const auto answer = answerPortDialog;

  QString destination;
  answer([&](QWidget* dialog) {
    destination = labelText(dialog, "portDestination");
    dialogButton(dialog, QDialogButtonBox::Cancel)->click();
  });
  child<QAction>(w, "port")->trigger();
  settle();
  EXPECT_EQ(destination,
            "comms.ini (port 1) and the link com1 to the chosen port are written to "
            "your settings folder, " +
                QString::fromStdString(userDir) + ".");
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(userDir)));
  EXPECT_EQ(port->openCalls, 0);

  answer([](QWidget* dialog) {
    QTreeWidget* table = portTable(dialog);
    table->setCurrentItem(table->topLevelItem(1));
    dialogButton(dialog, QDialogButtonBox::Ok)->click();
  });
  child<QAction>(w, "port")->trigger();
  settle();
  EXPECT_EQ(linkTarget(userDir + "/com1"), kAdapterById);
  EXPECT_EQ(port->written, " qx");
  EXPECT_TRUE(notifier.messages.empty());
}

// Over the line: the simulated unit's pseudo-terminal stands as the chosen
// port's device, reached through the com1 link in the user's settings folder.
TEST_F(PortChoiceTest, TheChosenDeviceIsReadBackOverTheLine) {
  sim::Simulator simulated;
  simulated.setSlotValue(8, 123);
  simulated.start();
  useFolders(context, resolveFolders(FolderEnvironment::ofProcess(dir.path())));
  ui::MainWindowDeps deps;  // the real port and pauses
  deps.notifier = &notifier;
  const std::string pty = simulated.devicePath();
  deps.listPorts = [pty] { return std::vector<SerialPortEntry>{{pty, "", "", "", ""}}; };
  form = std::make_unique<MainWindow>(context, std::move(deps));
  ASSERT_EQ(loadWindow(*form).outcome, LoadOutcome::Rejected);
  form->show();

  ASSERT_TRUE(form->usePort(SerialPortEntry{pty, "", "", "", ""}));
  settle();
  EXPECT_EQ(linkTarget(userDir + "/com1"), pty);
  ASSERT_TRUE(simulated.waitForLogSize(3, 5000));
  std::string bytes;
  for (const sim::LoggedByte& b : simulated.log()) bytes.push_back(static_cast<char>(b.byte));
  EXPECT_EQ(bytes, " qx");
  EXPECT_EQ(labelText(form.get(), "current_8"), "123");
  EXPECT_EQ(notifier.messages, std::vector<std::string>{kInvalidPortMessage});

  // Unit > Port... again: the pty in use comes preselected, and OK on it keeps
  // everything as it is: no file written, no byte sent.
  const QDateTime written =
      QFileInfo(QString::fromStdString(userDir + "/comms.ini")).lastModified();
  QString preselected;
  answerPortDialog([&](QWidget* dialog) {
    QTreeWidgetItem* row = portTable(dialog)->currentItem();
    preselected = row ? row->text(0) : QString();
    dialogButton(dialog, QDialogButtonBox::Ok)->click();
  });
  child<QAction>(form.get(), "port")->trigger();
  settle();
  EXPECT_EQ(preselected.toStdString(), pty);
  EXPECT_EQ(QFileInfo(QString::fromStdString(userDir + "/comms.ini")).lastModified(), written);
  EXPECT_EQ(linkTarget(userDir + "/com1"), pty);
  QTest::qWait(300);  // the unit's thread would have logged a byte by now
  EXPECT_EQ(simulated.log().size(), 3u);
  EXPECT_TRUE(status().contains("nothing was changed")) << status().toStdString();
  form->close();
  settle();
  EXPECT_TRUE(QTest::qWaitFor([&] { return simulated.closeCount() != 0; }, 10000));
  simulated.stop();
}

// Over the line: the simulated unit stops during a read-back and a new one
// starts on another pseudo-terminal behind the same com2 link; Unit > Read back
// then finds it without the window being opened again.
// The window with the real port and pauses on port N, a comN link to the
// simulated unit in its program's folder.
class LineOverTheSimulatedUnit : public ::testing::Test {
 protected:
  ui::MainWindow& windowOn(int n, sim::Simulator& unit) {
    dir.writeCommsIni(("Port," + std::to_string(n) + "\n").c_str());
    dir.copyReferenceDb();
    unit.start();
    unit.makeLink(dir.path() + "/com" + std::to_string(n));
    initAppContext(context, dir.path());
    ui::MainWindowDeps deps;
    deps.notifier = &notifier;
    window = std::make_unique<ui::MainWindow>(context, std::move(deps));
    EXPECT_EQ(loadWindow(*window).outcome, LoadOutcome::Linked);
    return *window;
  }

  ProgramDir dir;
  AppContext context;
  RecordingNotifier notifier;
  std::unique_ptr<ui::MainWindow> window;
};

TEST_F(LineOverTheSimulatedUnit, AUnitStartedAgainIsReadBackWithoutRestarting) {
  sim::Simulator first;
  first.setSlotValue(8, 14);
  ui::MainWindow& form = windowOn(2, first);
  EXPECT_EQ(labelText(&form, "current_8"), "14");
  first.clearLog();

  form.readBackUnit();
  // " " is in: the unit goes away (the window's thread runs on meanwhile).
  ASSERT_TRUE(QTest::qWaitFor([&] { return !first.log().empty(); }, 10000));
  first.stop();
  ASSERT_TRUE(waitIdle(form));
  const QString lost = labelText(&form, "statusText");
  EXPECT_TRUE(lost.endsWith(kLostAdvice)) << lost.toStdString();
  EXPECT_FALSE(form.controller().port().isOpen());

  sim::Simulator second;
  second.setSlotValue(8, 55);
  second.start();
  second.makeLink(dir.path() + "/com2");
  form.readBackUnit();
  ASSERT_TRUE(waitIdle(form));
  EXPECT_EQ(labelText(&form, "current_8"), "55");
  const QString back = labelText(&form, "statusText");
  EXPECT_TRUE(back.startsWith("Read back 32 of 32 slots at ")) << back.toStdString();
  ASSERT_TRUE(second.waitForLogSize(3, 10000));
  std::string bytes;
  for (const sim::LoggedByte& b : second.log()) bytes.push_back(static_cast<char>(b.byte));
  EXPECT_EQ(bytes, " qx");
  form.close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return second.closeCount() != 0; }, 10000));
  second.stop();
}

// Over the line: Unit > Check connection... runs the check over the window's
// own open port (neither a holder nor locked against itself), paced and traced
// as the window's exchanges are, shows its lines in a dialog and leaves the
// port open, with no close byte.
TEST_F(LineOverTheSimulatedUnit, CheckConnectionShowsTheLinesOverTheWindowsOwnPort) {
  sim::Simulator unit;
  ui::MainWindow& form = windowOn(1, unit);
  auto* action = form.findChild<QAction*>(QStringLiteral("checkConnection"));
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(action->text(), QStringLiteral("&Check connection..."));

  for (const bool silent : {false, true}) {
    sim::Faults faults;
    faults.silent = silent;
    unit.setFaults(faults);
    // The first round follows the start-up read-back: both are in the log.
    if (silent) unit.clearLog();
    action->trigger();
    ASSERT_TRUE(waitIdle(form));
    auto* dialog = form.findChild<QDialog*>(QStringLiteral("connectionCheckDialog"));
    ASSERT_NE(dialog, nullptr);
    const QString text =
        child<QPlainTextEdit>(dialog, QStringLiteral("connectionCheckText"))->toPlainText();
    const QString verdict = silent ? QStringLiteral("silent") : QStringLiteral("ok");
    EXPECT_TRUE(text.endsWith(QStringLiteral("verdict: ") + verdict + "\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(" open; this program holds it")))
        << text.toStdString();
    EXPECT_TRUE(labelText(&form, "statusText").startsWith("Connection check: " + verdict + " at "));
    ASSERT_TRUE(unit.waitForLogSize(3, 10000));
    std::string bytes;
    for (const sim::LoggedByte& b : unit.log()) bytes.push_back(static_cast<char>(b.byte));
    EXPECT_EQ(bytes, silent ? " qx" : " qx qx");
    // The check's bytes are in the window's trace, after the read-back's, as
    // the diagnostic report shows them.
    const std::string report = form.diagnosticReportText();
    const std::size_t firstX = report.find("write 1 78 \"x\"");
    ASSERT_NE(firstX, std::string::npos) << report;
    EXPECT_NE(report.find("write 1 20 \" \"", firstX), std::string::npos) << report;
    EXPECT_TRUE(form.controller().port().isOpen());
    delete dialog;
  }
  form.close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return unit.closeCount() != 0; }, 10000));
  unit.stop();
}

}  // namespace
}  // namespace ku::test
