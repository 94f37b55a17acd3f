// The main window at home on a desktop: its text readable under light and dark
// desktop looks (measured on the rendered pixels), its icon and desktop entry,
// the keyboard, and the pulse-width box saying what it reads.
#include <QFile>
#include <QHash>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <cmath>

#include "app/operator_texts.h"
#include "test_ui_support.h"
#include "ui/main_window_status.h"
#include "ui/start_up.h"
#include "ui/welcome_window.h"

namespace ku::test {
namespace {

const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ui::MainWindow;

class LookTest : public FakeUnitWindowTest<> {
 protected:
  void SetUp() override {
    FakeUnitWindowTest::SetUp();
    dir.writeCommsIni("\"Port\",1\n");
    dir.copyReferenceDb();
  }
  QLineEdit* pulseBox() { return child<QLineEdit>(form.get(), "pulseWidth"); }
  QWidget* focused() { return QApplication::focusWidget(); }
};

// --- colours -------------------------------------------------------------------

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor& c) {
  auto lin = [](double v) {
    v /= 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * lin(c.red()) + 0.7152 * lin(c.green()) + 0.0722 * lin(c.blue());
}
double contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of text drawn in area of a rendered picture: its background is
// the commonest colour, its text the colour farthest from it (the cores of the
// glyphs; the frames of boxes and buttons are kept out of area).
double renderedContrast(const QImage& picture, const QRect& area) {
  QHash<QRgb, int> counts;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) ++counts[picture.pixel(x, y)];
  QRgb ground = 0;
  int most = 0;
  for (auto i = counts.cbegin(); i != counts.cend(); ++i)
    if (i.value() > most) most = i.value(), ground = i.key();
  double best = 1.0;
  for (auto i = counts.cbegin(); i != counts.cend(); ++i)
    best = std::max(best, contrast(QColor(i.key()), QColor(ground)));
  return best;
}

// Every text of top's labels, buttons and boxes, rendered, against its
// background: at least minimum. Returns how many texts were measured.
int checkRenderedText(QWidget* top, double minimum, const std::string& what) {
  QCoreApplication::processEvents();
  const QImage picture = top->grab().toImage();
  const double ratio = picture.devicePixelRatio();
  int measured = 0;
  for (QWidget* c : top->findChildren<QWidget*>()) {
    if (!c->isVisibleTo(top) || c->window() != top) continue;
    QString text;
    int inset = 0;  // keeps the frames of buttons and boxes out
    if (auto* l = qobject_cast<QLabel*>(c)) {
      text = l->text();
    } else if (auto* b = qobject_cast<QPushButton*>(c)) {
      text = b->text(), inset = 3;
    } else if (auto* e = qobject_cast<QLineEdit*>(c)) {
      text = e->text(), inset = 3;
    }
    if (text.trimmed().isEmpty() || qobject_cast<QMenuBar*>(c->parentWidget())) continue;
    const QRect onTop(c->mapTo(top, QPoint(0, 0)), c->size());
    const QRect area(
        QRectF(onTop.adjusted(inset, inset, -inset, -inset)).toRect().topLeft() * ratio,
        (onTop.size() - QSize(2 * inset, 2 * inset)) * ratio);
    EXPECT_GE(renderedContrast(picture, area.intersected(picture.rect())), minimum)
        << what << ": " << c->objectName().toStdString() << " \"" << text.toStdString() << "\"";
    ++measured;
  }
  return measured;
}

struct DesktopLook {
  const char* style;
  bool darkScheme;  // a dark scheme over the style's own colours
};

class ReadableLookTest : public LookTest, public ::testing::WithParamInterface<DesktopLook> {
 protected:
  void SetUp() override {
    LookTest::SetUp();
    savedStyle_ = QApplication::style()->name();
    savedPalette_ = QApplication::palette();
  }
  void TearDown() override {
    LookTest::TearDown();
    QApplication::setStyle(savedStyle_);
    QApplication::setPalette(savedPalette_);
  }

 private:
  QString savedStyle_;
  QPalette savedPalette_;
};

// Under light and dark desktops every text of the form, its status bar and the
// welcome window reads at 4.5:1 at least, disabled text at 3:1.
TEST_P(ReadableLookTest, EveryTextReadsOnItsBackground) {
  const DesktopLook look = GetParam();
  if (!QStyleFactory::keys().contains(QString::fromLatin1(look.style), Qt::CaseInsensitive))
    GTEST_SKIP() << look.style << " is not installed";
  QApplication::setStyle(QString::fromLatin1(look.style));
  // A dark desktop scheme: white text on dark grey, black boxes.
  if (look.darkScheme) QApplication::setPalette(QPalette(QColor(0x2B, 0x2B, 0x2B)));
  MainWindow* w = openWindow();
  QTest::keyClicks(entryBox(w, 8), "7");
  EXPECT_GT(checkRenderedText(w, 4.5, "enabled"), 150);
  // The form and its status bar stay grey; the menu bar takes the desktop's colours.
  const QImage shot = w->grab().toImage();
  for (const char* part : {"form", "statusText"})
    EXPECT_EQ(shot.pixelColor(child<QWidget>(w, part)->mapTo(w, QPoint(1, 1))),
              ui::backgroundColour())
        << part;
  EXPECT_EQ(w->menuBar()->palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Window));

  // As during an exchange, only more so: every control of the form disabled.
  child<QWidget>(w, "form")->setEnabled(false);
  EXPECT_GT(checkRenderedText(w, 3.0, "disabled"), 150);
  child<QWidget>(w, "form")->setEnabled(true);

  ui::WelcomeWindow welcome(context);
  EXPECT_GE(checkRenderedText(&welcome, 4.5, "welcome"), 8);
}

INSTANTIATE_TEST_SUITE_P(Desktops, ReadableLookTest,
                         ::testing::Values(DesktopLook{"Fusion", false},
                                           DesktopLook{"Fusion", true},
                                           DesktopLook{"Adwaita", false},
                                           DesktopLook{"Adwaita-Dark", false}),
                         [](const auto& info) {
                           return QString::fromLatin1(info.param.style).remove('-').toStdString() +
                                  (info.param.darkScheme ? "DarkScheme" : "");
                         });

// --- icon and desktop entry ------------------------------------------------------

TEST_F(LookTest, WindowsCarryTheProgramIconAndTheDesktopEntryName) {
  ui::setProgramIdentity();
  EXPECT_EQ(QGuiApplication::desktopFileName(), "ku-utility");
  ASSERT_TRUE(QFile::exists(":/icon/ku-utility-48.png")) << "built without rsvg-convert";
  EXPECT_FALSE(QApplication::windowIcon().pixmap(48).isNull());
  MainWindow* w = openWindow();
  EXPECT_EQ(w->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());

  // The desktop entry's icon, and the window class X11 gives the windows
  // (the application's name), name the same program.
  QFile entry(QStringLiteral(KU_TEST_DATA_DIR "/../../packaging/ku-utility.desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(entry.readAll()).split('\n');
  EXPECT_TRUE(lines.contains("Icon=ku-utility"));
  EXPECT_TRUE(lines.contains(QStringLiteral("StartupWMClass=") + QString::fromLatin1(kAppTitle)));
}

// --- the keyboard ------------------------------------------------------------------

TEST_F(LookTest, ButtonMnemonicsPressThemAndClashWithNoMenu) {
  MainWindow* w = openWindow();
  QStringList keys;
  for (QAction* a : w->menuBar()->actions()) keys << QKeySequence::mnemonic(a->text()).toString();
  QStringList captions;
  for (const char* name : {"default", "update", "close"}) {
    keys << QKeySequence::mnemonic(button(w, name)->text()).toString();
    captions << QString(button(w, name)->text()).remove('&');
  }
  EXPECT_EQ(keys, (QStringList{"Alt+F", "Alt+N", "Alt+H", "Alt+D", "Alt+U", "Alt+C"}));
  EXPECT_EQ(captions, (QStringList{"Default", "Update", "Close"}));

  // Alt+U from a box sends the set-up (the button is pressed a moment later, as
  // a click shows), and the focus comes back to that box.
  auto pressed = [this](Qt::Key key, const char* said) {
    QTest::keyClick(focused(), key, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status().startsWith(said); }, 10000))
        << status().toStdString();
    settle();
  };
  entryBox(w, 8)->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(entryBox(w, 8), "7");
  pressed(Qt::Key_U, "Uploaded the set-up");
  EXPECT_EQ(unit.values[8], 7);
  EXPECT_EQ(focused(), entryBox(w, 8));

  // Alt+D the same, and so does a click on "Default" from the mouse.
  entryBox(w, 12)->setFocus(Qt::TabFocusReason);
  pressed(Qt::Key_D, "Uploaded the defaults");
  EXPECT_EQ(unit.values[8], slotInfo(8).builtInDefault);
  EXPECT_EQ(focused(), entryBox(w, 12));
  QTest::mouseClick(button(w, "default"), Qt::LeftButton);
  settle();
  EXPECT_EQ(focused(), entryBox(w, 12));

  // Alt+C closes the window as "Close" does: the unit gets its close byte.
  unit.received.clear();
  QTest::keyClick(entryBox(w, 12), Qt::Key_C, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([w] { return !w->isVisible(); }, 10000));
  EXPECT_EQ(unit.received, "!");
}

// Return moves to the next box that takes the focus, past the disabled ones and
// from the last box round to the first.
TEST_F(LookTest, ReturnMovesToTheNextBox) {
  MainWindow* w = openWindow();
  const struct {
    QLineEdit* from;
    QLineEdit* to;
  } steps[] = {{entryBox(w, 1), entryBox(w, 2)},
               {entryBox(w, 8), entryBox(w, 9)},
               {entryBox(w, 29), pulseBox()},
               {pulseBox(), entryBox(w, 1)}};
  for (const auto& s : steps) {
    s.from->setFocus(Qt::TabFocusReason);
    QTest::keyClick(s.from, Qt::Key_Return);
    EXPECT_EQ(focused(), s.to) << s.from->objectName().toStdString();
  }
}

// --- the pulse-width box -----------------------------------------------------------

TEST(PulseWidthReading, SaysWhatTheTextIsReadAs) {
  const struct {
    const char* text;
    const char* decimalPoint;
    const char* said;
  } cases[] = {
      {"0", ".", "E/S Min Pulse width: read as 0 ms"},
      {" 1.5 ", ".", "E/S Min Pulse width: read as 1.5 ms"},
      {"1.5x", ".",
       "E/S Min Pulse width: \"1.5x\" is not a number; Min Depth and the figures after it keep "
       "their last values"},
      {"1,5", ".",
       "E/S Min Pulse width: \"1,5\" is not a number; Min Depth and the figures after it keep "
       "their last values"},
      {"1e999", ".",
       "E/S Min Pulse width: \"1e999\" is too large to be read; Min Depth and the figures after "
       "it keep their last values"},
      {"0123456789abcdefghijklmnopq", ".",
       "E/S Min Pulse width: \"0123456789abcdefghijklm\u2026\" is not a number; Min Depth and the "
       "figures after it keep their last values"},
  };
  for (const auto& c : cases) {
    NumberLocale locale;
    locale.decimalPoint = c.decimalPoint;
    EXPECT_EQ(ui::pulseWidthReadingText(c.text, locale).toStdString(), c.said) << c.text;
  }
}

TEST_F(LookTest, PulseWidthBoxSaysWhatItReadsAndAnEmptiedBoxShowsZeroSelected) {
  MainWindow* w = openWindow();
  const QString notANumber = ui::pulseWidthReadingText("abc", context.locale);
  EXPECT_EQ(pulseBox()->toolTip(), "E/S Min Pulse width: read as 0 ms");
  pulseBox()->setFocus(Qt::TabFocusReason);
  pulseBox()->selectAll();
  QTest::keyClicks(pulseBox(), "abc");
  EXPECT_EQ(w->pulseWidthText(), "abc");  // taken as it is
  EXPECT_EQ(status(), notANumber);
  EXPECT_EQ(pulseBox()->toolTip(), notANumber);

  for (int i = 0; i < 3; ++i) QTest::keyClick(pulseBox(), Qt::Key_Backspace);
  EXPECT_EQ(pulseBox()->text(), "0");
  EXPECT_EQ(pulseBox()->selectedText(), "0");
  EXPECT_EQ(status(), "E/S Min Pulse width: read as 0 ms");
  QTest::keyClicks(pulseBox(), "2");
  EXPECT_EQ(pulseBox()->text(), "2");
  EXPECT_EQ(pulseBox()->toolTip(), "E/S Min Pulse width: read as 2 ms");
}

}  // namespace
}  // namespace ku::test
