// The program's start, as kuutil's main does it, with probes: run by
// bench_startup in a process of its own so that the process start, the memory
// and the windows are the program's. It prints one line per milestone,
// "<name> <monotonic nanoseconds>", on standard output.
//
//   bench_ui_child <program folder> startup|session [--engine]
// startup: the welcome window, "------->", the main window, "Close".
// session: the same with typing in the boxes and "Update" before "Close".
// --engine: the main window's lookups go to the engine every time instead of
// through the window's own opener (the cache).
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "app/unit_controller.h"
#include "bench_support.h"
#include "reference/reference_database.h"
#include "ui/main_window.h"
#include "ui/start_up.h"
#include "ui/welcome_window.h"

namespace {

using ku::bench::monotonicNs;

void milestone(const char* name, std::int64_t ns) {
  std::printf("%s %lld\n", name, static_cast<long long>(ns));
  std::fflush(stdout);
}

// The peak resident size so far, in kilobytes (VmHWM).
long peakKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Notes the first paint of a window.
class PaintProbe : public QObject {
 public:
  explicit PaintProbe(QWidget* w) { w->installEventFilter(this); }
  bool painted = false;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted = true;
    return false;
  }
};

// Runs the event loop until the window has been painted once; the time after
// that paint (and the flush that goes with it) has finished.
std::int64_t untilPainted(PaintProbe& probe) {
  const auto deadline = monotonicNs() + 30'000'000'000LL;
  while (!probe.painted && monotonicNs() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  const auto t = monotonicNs();
  if (!probe.painted) {
    std::fprintf(stderr, "bench_ui_child: a window was never painted\n");
    std::exit(3);
  }
  return t;
}

// One key into a box; the time its handling took (the change handling with its
// refresh runs inside the key press), in nanoseconds.
std::int64_t key(QLineEdit* box, Qt::Key k, char c = 0) {
  const auto t0 = monotonicNs();
  if (c) {
    QTest::keyClick(box, c);
  } else {
    QTest::keyClick(box, k);
  }
  return monotonicNs() - t0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const auto atMain = monotonicNs();
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_ui_child <program folder> startup|session [--engine]\n");
    return 2;
  }
  const QString programDir = QString::fromLocal8Bit(argv[1]);
  const bool session = std::strcmp(argv[2], "session") == 0;
  const bool engine = argc > 3 && std::strcmp(argv[3], "--engine") == 0;

  // As kuutil's main.
  ku::AppContext context;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TolvekKU"));
  std::unique_ptr<ku::ReferenceDatabaseOpener> opener;
  ku::ui::MainWindowDepsFactory deps;
  if (engine) {
    opener = ku::makeMdbOpener();
    deps = [&opener] {
      ku::ui::MainWindowDeps d;
      d.opener = opener.get();
      return d;
    };
  }
  ku::ui::WelcomeWindow* splash = ku::ui::startUp(context, programDir, deps);

  milestone("main", atMain);
  PaintProbe splashPainted(splash);
  milestone("splash", untilPainted(splashPainted));
  std::printf("rss_splash_kb %ld\n", peakKb());

  QPointer<ku::ui::MainWindow> form;
  std::unique_ptr<PaintProbe> formPainted;
  QObject::connect(splash, &ku::ui::WelcomeWindow::mainWindowShown, [&](ku::ui::MainWindow* f) {
    form = f;
    formPainted = std::make_unique<PaintProbe>(f);
  });
  auto* next = splash->findChild<QPushButton*>(QStringLiteral("next"));
  if (!next) return 4;
  const auto click = monotonicNs();
  next->click();  // show, then the load (with the read-back) behind the window
  if (!form || !formPainted) return 5;
  milestone("click", click);
  milestone("form", untilPainted(*formPainted));
  // The start-up read-back runs on behind the painted window.
  auto untilIdle = [&form] {
    const auto deadline = monotonicNs() + 30'000'000'000LL;
    while (form && form->busy() && monotonicNs() < deadline)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return monotonicNs();
  };
  milestone("loaded", untilIdle());
  if (!form) return 5;
  std::printf("rss_form_kb %ld\n", peakKb());

  if (session) {
    // Values typed into the boxes key by key and erased again (a fifth of them
    // in the RF-control box and a fifth in the CONFIG box, the lookup keys),
    // then one value in the box of slot 4 that the upload carries.
    unsigned seed = 20240611u;
    auto next = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) & 0xffffu;
    };
    auto typeInto = [&](int slot, const std::string& text, bool erase) {
      auto* box = form->findChild<QLineEdit*>(QStringLiteral("entry_%1").arg(slot));
      if (!box) std::exit(6);
      box->setFocus();
      for (char c : text) {
        std::printf("key %lld\n", static_cast<long long>(key(box, Qt::Key_unknown, c)));
      }
      for (std::size_t i = 0; erase && i < text.size(); ++i) {
        std::printf("key %lld\n", static_cast<long long>(key(box, Qt::Key_Backspace)));
      }
    };
    const int others[] = {1, 2, 4, 5, 7, 8, 9, 10, 13, 14, 17, 20, 27, 28};
    for (int e = 0; e < 40; ++e) {
      const unsigned pick = next() % 10;
      const int slot = pick < 2 ? 3 : pick < 4 ? 6 : others[next() % std::size(others)];
      const unsigned value = next() % (static_cast<unsigned>(ku::entryLimit(slot)) + 1);
      typeInto(slot, std::to_string(value), true);
    }
    typeInto(4, "1000", false);
    QCoreApplication::processEvents();
    auto* update = form->findChild<QPushButton*>(QStringLiteral("update"));
    if (!update) return 7;
    const auto u0 = monotonicNs();
    update->click();  // upload and read-back
    milestone("update_start", u0);
    milestone("update_end", untilIdle());
    QCoreApplication::processEvents();
  }

  auto* close = form->findChild<QPushButton*>(QStringLiteral("close"));
  if (!close) return 8;
  close->click();
  const auto deadline = monotonicNs() + 10'000'000'000LL;
  while (form && monotonicNs() < deadline) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  milestone("closed", monotonicNs());
  std::printf("rss_end_kb %ld\n", peakKb());
  return form ? 9 : 0;
}
