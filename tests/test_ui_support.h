// Shared pieces of the window tests: one QApplication, a program folder in a
// temporary directory, and a scripted unit behind the fake port.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/unit_controller.h"
#include "fakes.h"
#include "model/slot_table.h"
#include "ui/classic_look.h"
#include "ui/guide_window.h"
#include "ui/main_window.h"
#include "ui/twips.h"
#include "ui/window_placement.h"

namespace ku::test {

// The window tests need one QApplication for the whole run.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
  }
  // Before the program's exit handlers run, while Qt is still whole.
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

// A unit as the fake port sees it: answers "x" with its record and applies the
// command bytes and value bytes of an upload.
class ScriptedUnit {
 public:
  std::array<int, 32> values{};
  std::string received;  // every byte that reached the unit, in order

  ScriptedUnit() {
    for (int s = 0; s < kValueSlots; ++s) values[s] = slotInfo(s).builtInDefault;
    values[0] = 2;
    values[30] = 210;
    values[31] = 0;
  }

  std::string record() const {
    std::string r;
    auto byte = [&r](int v) { r.push_back(static_cast<char>(v & 0xFF)); };
    for (int s = 0; s < 32; ++s) {
      if (s == 30) {
        byte(values[s]);
        byte(values[s] >> 8);
      } else if (isWideSlot(s)) {
        byte(values[s] >> 8);
        byte(values[s]);
      } else {
        byte(values[s]);
      }
    }
    return r;
  }

  // Hooks the unit to the port: every byte written reaches it.
  void attach(FakeSerialPort& port) {
    port.onByte = [this, &port](unsigned char c) {
      if (beforeByte) beforeByte(c);
      received.push_back(static_cast<char>(c));
      receive(port, c);
    };
  }
  std::function<void(unsigned char)> beforeByte;

 private:
  void receive(FakeSerialPort& port, unsigned char c) {
    if (pendingBytes_ > 0) {
      value_ = value_ * 256 + c;
      if (--pendingBytes_ == 0) values[slot_] = value_;
      return;
    }
    if (c == 'x') {
      port.replies.push_back(record());
      return;
    }
    for (int s = 0; s < kValueSlots; ++s) {
      if (slotInfo(s).commandByte == c) {
        slot_ = s;
        value_ = 0;
        pendingBytes_ = isWideSlot(s) ? 2 : 1;
        return;
      }
    }
  }
  int slot_ = 0, value_ = 0, pendingBytes_ = 0;
};

// A program folder with (optionally) comms.ini and the shipped reference database.
struct ProgramDir {
  QTemporaryDir dir;
  std::string path() const { return dir.path().toStdString(); }
  void writeCommsIni(const char* text) {
    QFile f(dir.filePath(QStringLiteral("comms.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  void copyReferenceDb() {
    ASSERT_TRUE(QFile::copy(QStringLiteral(KU_BIN_DIR "/TKUUtil.mdb"),
                            dir.filePath(QStringLiteral("TKUUtil.mdb"))));
  }
};

// The window's helpers for a test: a fake port, and the given notifier and sleeper.
inline ui::MainWindowDeps fakeDeps(std::unique_ptr<FakeSerialPort> port, Notifier& notifier,
                                   Sleeper& sleeper) {
  ui::MainWindowDeps deps;
  deps.port = std::move(port);
  deps.notifier = &notifier;
  deps.sleeper = &sleeper;
  // Every device chosen under Unit > Port... opens.
  deps.tryPort = [](const std::string&) { return std::string(); };
  return deps;
}

// Waits for the window's exchange with the unit to end, as an operator would.
inline bool waitIdle(ui::MainWindow& w, int ms = 60000) {
  return QTest::qWaitFor([&w] { return !w.busy(); }, ms);
}

// The load step, waited for; how it ended.
inline LoadResult loadWindow(ui::MainWindow& w) {
  w.load();
  EXPECT_TRUE(waitIdle(w));
  return w.lastLoad();
}

// Answers the next modal question with answer and keeps its text.
inline void answerNextQuestion(QMessageBox::StandardButton answer, std::string* text) {
  QTimer::singleShot(0, [answer, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    *text = box->text().toStdString();
    box->button(answer)->click();
  });
}

template <typename W>
W* child(QWidget* parent, const QString& name) {
  W* w = parent->findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name.toStdString();
  return w;
}

// The window tests' fixture: a program folder, the main window on the fake port
// with a ScriptedUnit behind it, the fake pauses and a recording notifier.
template <typename TestNotifier = RecordingNotifier>
class FakeUnitWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initAppContext(context, dir.path());
    context.locale.decimalPoint = ".";
  }
  void TearDown() override {
    for (const QMetaObject::Connection& c : watches_) QObject::disconnect(c);
    form.reset();
  }

  // Runs check on the window's thread each time an exchange's progress moves:
  // the window's own view of the exchange while it runs.
  void whileProgressing(std::function<void()> check) {
    auto* bar = child<QProgressBar>(form.get(), "progress");
    watches_.push_back(QObject::connect(bar, &QProgressBar::valueChanged, form.get(),
                                        [check = std::move(check)] { check(); }));
  }

  // Runs the load step and shows the window, active. configure sets the fake
  // port up before the load; adjust completes the window's dependencies.
  ui::MainWindow* openWindow(const std::function<void(FakeSerialPort&)>& configure = {},
                             const std::function<void(ui::MainWindowDeps&)>& adjust = {}) {
    auto fake = std::make_unique<FakeSerialPort>();
    port = fake.get();
    unit.attach(*port);
    if (configure) configure(*port);
    ui::MainWindowDeps deps = fakeDeps(std::move(fake), notifier, sleeper);
    if (adjust) adjust(deps);
    form = std::make_unique<ui::MainWindow>(context, std::move(deps));
    loadWindow(*form);
    form->show();
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    return form.get();
  }
  // Waits for the exchange a click or menu started.
  void settle() { ASSERT_TRUE(waitIdle(*form)); }
  QString status() { return child<QLabel>(form.get(), "statusText")->text(); }
  QAction* action(const char* name) { return child<QAction>(form.get(), QString::fromUtf8(name)); }

  ProgramDir dir;
  AppContext context;
  FakeSleeper sleeper;
  TestNotifier notifier;
  ScriptedUnit unit;
  FakeSerialPort* port = nullptr;
  std::unique_ptr<ui::MainWindow> form;

 private:
  std::vector<QMetaObject::Connection> watches_;
};
inline QString labelText(QWidget* form, const QString& name) {
  QLabel* l = child<QLabel>(form, name);
  return l ? l->text() : QStringLiteral("<missing>");
}
inline QLineEdit* entryBox(QWidget* form, int k) {
  return child<QLineEdit>(form, QStringLiteral("entry_%1").arg(k));
}
inline QPushButton* button(QWidget* form, const char* name) {
  return child<QPushButton>(form, QString::fromUtf8(name));
}
// The guide windows there are (Help > Operator's guide makes one, a window of its own).
inline std::vector<ui::GuideWindow*> guideWindows() {
  std::vector<ui::GuideWindow*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* g = qobject_cast<ui::GuideWindow*>(w)) found.push_back(g);
  return found;
}

}  // namespace ku::test
