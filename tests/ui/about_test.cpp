#include "ui/about.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QTest>
#include <QUrl>
#include <string>
#include <vector>

#include "support/wait.h"
#include "ui/window_style.h"

// Takes the web addresses the desktop's browser would have opened.
class TBrowserRecorder : public QObject {
  Q_OBJECT

 public:
  TBrowserRecorder() { QDesktopServices::setUrlHandler("https", this, "Open"); }
  ~TBrowserRecorder() override { QDesktopServices::unsetUrlHandler("https"); }

  std::vector<std::string> Urls;

 public slots:
  void Open(const QUrl& url) { Urls.push_back(url.toString().toStdString()); }
};

namespace {

// The About box shows the program's icon beside its text, and its links,
// reached with Tab and followed with Enter, open the home page and the
// licence in the browser.
TEST(AboutBoxTest, ShowsTheIconAndOpensItsLinksInTheBrowser) {
  TBrowserRecorder browser;
  TAboutBox about("/tmp/tarnock.ini");
  about.show();
  QApplication::setActiveWindow(&about);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&about));

  auto* icon = about.findChild<QLabel*>("AboutIcon");
  ASSERT_NE(icon, nullptr);
  const QImage drawn = icon->pixmap().toImage();
  EXPECT_EQ(drawn, ProgramIcon().pixmap(drawn.size()).toImage());
  EXPECT_FALSE(drawn.isNull());

  auto* links = about.findChild<QLabel*>("AboutLinks");
  ASSERT_NE(links, nullptr);
  EXPECT_EQ(links->text().toStdString(),
            std::string("Homepage: <a href=\"") + kHomepageUrl + "\">" + kHomepageUrl +
                "</a><br>Licence: <a href=\"https://spdx.org/licenses/MIT.html\">MIT "
                "License</a>");
  links->setFocus(Qt::TabFocusReason);
  for (int link = 0; link < 2; ++link) {
    QTest::keyClick(links, Qt::Key_Tab);
    QTest::keyClick(links, Qt::Key_Return);
  }
  ASSERT_TRUE(WaitUntil([&] { return browser.Urls.size() == 2; }));
  EXPECT_EQ(browser.Urls,
            (std::vector<std::string>{kHomepageUrl, "https://spdx.org/licenses/MIT.html"}));
}

}  // namespace

#include "about_test.moc"
