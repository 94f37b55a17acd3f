#include "ui/welcome_window.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>

#include "app/operator_texts.h"
#include "app/version.h"
#include "ui/classic_look.h"
#include "ui/native_title.h"
#include "ui/pictures.h"
#include "ui/twips.h"
#include "ui/window_placement.h"

namespace ku::ui {

WelcomeWindow::WelcomeWindow(AppContext& context, MainWindowDepsFactory depsFactory)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      context_(context),
      depsFactory_(std::move(depsFactory)) {
  setObjectName(QStringLiteral("WelcomeWindow"));
  setWindowTitle(QString());
  setFont(defaultFont());
  setFixedSize(px(6585), px(4320));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* frame = new QFrame(this);
  frame->setObjectName(QStringLiteral("frame"));
  frame->setFrameShape(QFrame::NoFrame);
  frame->setGeometry(twipRect(0, 0, 7080, 4250));

  auto label = [frame](const char* name, const QString& text, const QRect& rect) {
    auto* l = new QLabel(text, frame);
    l->setObjectName(QString::fromUtf8(name));
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setGeometry(rect);
    return l;
  };
  auto picture = [frame](const char* name, Picture which, const char* accessibleName, int left,
                         int top) {
    auto* v = new PictureView(which, frame);
    v->setObjectName(QString::fromUtf8(name));
    v->setAccessibleName(QString::fromUtf8(accessibleName));
    v->move(px(left), px(top));
    return v;
  };
  // Sized to its text, keeping the given height.
  auto fitWidth = [](QLabel* l) {
    l->resize(l->fontMetrics().horizontalAdvance(l->text()), l->height());
  };

  QLabel* welcome = label("welcome", QStringLiteral("WELCOME"), twipRect(2520, 120, 2175, 375));
  welcome->setFont(namedFont(QStringLiteral("Verdana"), 14.25));
  welcome->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  picture("banner", Picture::Banner, kAppTitle, 1200, 600);
  picture("transducer", Picture::Transducer, "A transducer sending its beam", 360, 1560);
  picture("mark", Picture::Mark, "Tolvek", 3360, 1560);

  QLabel* utilities =
      label("utilities", QStringLiteral("Engineering Utilities"), twipRect(3120, 2040, 1875, 210));
  utilities->setFont(namedFont(QStringLiteral("Verdana"), 9));
  fitWidth(utilities);

  fitWidth(label("version", QStringLiteral("Version ") + QString::fromLatin1(kVersion),
                 twipRect(360, 2880, 795, 195)));
  fitWidth(label("platform", platformText(), twipRect(360, 3120, 1500, 195)));

  const QFont arial = namedFont(QStringLiteral("Arial"), 8.25);
  label("notice", QStringLiteral("Authorised service use only"), twipRect(360, 3360, 2415, 255))
      ->setFont(arial);
  label("company", QStringLiteral("Tolvek Marine Systems"), twipRect(360, 3600, 2415, 255))
      ->setFont(arial);
  label("address", QStringLiteral("www.tolvek.example"), twipRect(360, 3840, 1815, 255));

  auto* next = new QPushButton(QStringLiteral("------->"), frame);
  next->setObjectName(QStringLiteral("next"));
  next->setGeometry(twipRect(5280, 3720, 855, 375));
  next->setDefault(true);
  next->setAutoDefault(true);
  next->setFocus(Qt::OtherFocusReason);
  next->setAccessibleName(QStringLiteral("Continue"));
  next->setAccessibleDescription(
      QStringLiteral("Opens the main window, which reads the unit's set-up back first"));
  connect(next, &QPushButton::clicked, this, &WelcomeWindow::openMainWindow);

  applyFormLook(this);
  centreOnScreen(this);
}

void WelcomeWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  clearNativeTitle(this);
}

QString WelcomeWindow::platformText() {
#if defined(Q_OS_WIN)
  const QString name = QStringLiteral("Windows");
#elif defined(Q_OS_MACOS)
  const QString name = QStringLiteral("macOS");
#elif defined(Q_OS_LINUX)
  const QString name = QStringLiteral("Linux");
#else
  const QString name = QSysInfo::kernelType();
#endif
  return QStringLiteral("Platform :    ") + name;
}

void WelcomeWindow::openMainWindow() {
  // The main window goes on screen at once; its load step (the port and the
  // first read-back) runs behind it, followed in its status bar, and its
  // messages appear over it.
  auto* form = new MainWindow(context_, depsFactory_ ? depsFactory_() : MainWindowDeps{});
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->placeOnScreen();
  form->show();

  // Unload: the window goes from the screen now, and is destroyed once this
  // handler has run to its end.
  setAttribute(Qt::WA_DeleteOnClose, false);
  close();
  Q_EMIT mainWindowShown(form);
  form->load();
  deleteLater();
}

}  // namespace ku::ui
