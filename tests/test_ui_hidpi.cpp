// The welcome window on a screen at twice the pixel density (QT_SCALE_FACTOR=2):
// its pictures are drawn at that density, not scaled up from one pixel in two.
#include <QTest>

#include "test_ui_support.h"
#include "ui/pictures.h"
#include "ui/welcome_window.h"

namespace ku::test {
namespace {

// Set before the application object exists.
const bool kTwiceTheDensity = qputenv("QT_SCALE_FACTOR", "2");
const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

TEST(HighDensityScreen, WelcomePicturesAreSharp) {
  AppContext context;
  ui::WelcomeWindow w(context);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ASSERT_TRUE(kTwiceTheDensity);
  ASSERT_EQ(w.devicePixelRatioF(), 2.0);
  EXPECT_EQ(w.size(), QSize(439, 288));  // the layout keeps its device-independent pixels

  const QImage shot = w.grab().toImage();
  ASSERT_EQ(shot.size(), QSize(878, 576));
  struct Place {
    const char* name;
    ui::Picture picture;
  };
  for (const Place& p :
       {Place{"banner", ui::Picture::Banner}, Place{"transducer", ui::Picture::Transducer},
        Place{"mark", ui::Picture::Mark}}) {
    SCOPED_TRACE(p.name);
    QWidget* view = child<QWidget>(&w, p.name);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->size(), ui::pictureSize(p.picture));
    const QPoint at = view->mapTo(&w, QPoint(0, 0)) * 2;
    const QImage drawn =
        shot.copy(QRect(at, ui::pictureSize(p.picture) * 2)).convertToFormat(QImage::Format_RGB32);
    const QImage expected =
        ui::renderPicture(p.picture, 2.0).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(drawn, expected);
  }
}

}  // namespace
}  // namespace ku::test
