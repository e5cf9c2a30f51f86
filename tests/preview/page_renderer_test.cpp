#include "preview/page_renderer.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "preview/render_cache.h"
#include "preview/renderer_choice.h"
#include "support/environment_override.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// Two Letter pages, each with one word.
const std::string kTwoPages =
    "%!PS\n<< /PageSize [612 792] >> setpagedevice\n/Helvetica findfont 20 scalefont setfont\n"
    "72 72 moveto (one) show showpage\n72 72 moveto (two) show showpage\n";
const std::string kExit = "\x1b%-12345X";

class PageRendererTest : public TempFolderTest {
 protected:
  TRenderRequest Request(const std::string& capture, TPrinterLanguage language,
                         const std::string& command = {}) {
    const std::string path = folder_.FilePath("capture");
    EXPECT_TRUE(WriteWholeFile(path, capture));
    TRenderRequest request;
    request.capture = path;
    request.language = language;
    request.userCommand = command;
    request.cacheFolder = folder_.FilePath("cache");
    request.resolutionDpi = 36;
    return request;
  }

  TRenderResult Render(const TRenderRequest& request) {
    TPageRenderer renderer;
    std::optional<TRenderResult> result;
    QObject::connect(&renderer, &TPageRenderer::Finished,
                     [&](const TRenderResult& finished) { result = finished; });
    renderer.Start(request);
    EXPECT_TRUE(WaitUntil([&] { return result.has_value(); }));
    return result.value_or(TRenderResult{{}, "no answer"});
  }

  static void ExpectLetterPages(const TRenderResult& result, std::size_t count) {
    EXPECT_EQ(result.failure, "");
    ASSERT_EQ(result.pages.size(), count);
    for (const std::string& page : result.pages) {
      const QImage image(QString::fromStdString(page));
      // 8.5 by 11 inches at 36 dots per inch.
      EXPECT_EQ(image.size(), QSize(306, 396)) << page;
    }
  }

  std::string TinyPng() {
    const std::string path = folder_.FilePath("tiny.png");
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG"));
    return path;
  }
};

TEST_F(PageRendererTest, GhostscriptDrawsPostScriptAndPjlWrappedPostScript) {
  if (FindProgram("gs").empty()) GTEST_SKIP() << "Ghostscript is not installed";
  const std::string wrapped = kExit + "@PJL JOB\r\n@PJL ENTER LANGUAGE = POSTSCRIPT\r\n" +
                              kTwoPages + kExit + "@PJL EOJ\r\n" + kExit;
  for (const auto& [capture, language] : {std::pair{kTwoPages, TPrinterLanguage::PostScript},
                                          std::pair{wrapped, TPrinterLanguage::Pjl}}) {
    TTempFolder cache;
    TRenderRequest request = Request(capture, language);
    request.cacheFolder = cache.Path();
    ExpectLetterPages(Render(request), 2);
  }
}

TEST_F(PageRendererTest, CachedPagesNeedNoRenderer) {
  if (FindProgram("gs").empty()) GTEST_SKIP() << "Ghostscript is not installed";
  const TRenderRequest request = Request(kTwoPages, TPrinterLanguage::PostScript);
  const TRenderResult first = Render(request);
  ExpectLetterPages(first, 2);
  const TEnvironmentOverride nowhere("PATH", folder_.Path());
  EXPECT_EQ(Render(request).pages, first.pages);
  // Another resolution is another render, and no Ghostscript is found now.
  TRenderRequest sharper = request;
  sharper.resolutionDpi = 72;
  EXPECT_EQ(Render(sharper).failure, kGhostscriptMissing);
}

// The first page alone comes first and is cached apart: the whole job is
// still drawn in full afterwards.
TEST_F(PageRendererTest, FirstPageAloneIsCachedApartFromTheWholeJob) {
  if (FindProgram("gs").empty()) GTEST_SKIP() << "Ghostscript is not installed";
  TRenderRequest firstPage = Request(kTwoPages, TPrinterLanguage::PostScript);
  firstPage.lastPage = 1;
  ExpectLetterPages(Render(firstPage), 1);
  TRenderRequest whole = firstPage;
  whole.lastPage = 0;
  ExpectLetterPages(Render(whole), 2);
}

TEST_F(PageRendererTest, UserCommandWritesPngsOneAfterAnother) {
  const std::string png = TinyPng();
  const TRenderResult result =
      Render(Request("^XA^XZ", TPrinterLanguage::Zpl, "cat '" + png + "' '" + png + "'"));
  EXPECT_EQ(result.failure, "");
  ASSERT_EQ(result.pages.size(), 2u);
  for (const std::string& page : result.pages)
    EXPECT_EQ(QImage(QString::fromStdString(page)).size(), QSize(3, 2));
}

TEST_F(PageRendererTest, UserCommandReadsTheCaptureOnStandardInput) {
  const std::string png = TinyPng();
  const TRenderResult result =
      Render(Request("^XA^XZ", TPrinterLanguage::Zpl, "grep -q XZ && cat '" + png + "'"));
  EXPECT_EQ(result.failure, "");
  EXPECT_EQ(result.pages.size(), 1u);
}

TEST_F(PageRendererTest, AStartEndsTheRenderUnderWay) {
  const std::string png = TinyPng();
  TPageRenderer renderer;
  std::vector<TRenderResult> results;
  QObject::connect(&renderer, &TPageRenderer::Finished,
                   [&](const TRenderResult& finished) { results.push_back(finished); });
  renderer.Start(Request("^XA^XZ", TPrinterLanguage::Zpl, "sleep 5"));
  ASSERT_TRUE(renderer.Running());
  renderer.Start(Request("^XA^XZ", TPrinterLanguage::Zpl, "cat '" + png + "'"));
  ASSERT_TRUE(WaitUntil([&] { return !results.empty(); }));
  EXPECT_EQ(results[0].failure, "");
  EXPECT_EQ(results[0].pages.size(), 1u);
  // Only the finished render's folder is left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.FilePath("cache")),
                          std::filesystem::directory_iterator()),
            1);
}

struct TFailureCase {
  const char* name;
  TPrinterLanguage language;
  std::string command;
  std::string failure;
};

class PageRendererFailureTest : public PageRendererTest,
                                public testing::WithParamInterface<TFailureCase> {};

TEST_P(PageRendererFailureTest, SaysWhatHappened) {
  TRenderRequest request = Request("^XA^XZ", GetParam().language, GetParam().command);
  request.timeLimit = 100ms;
  const TRenderResult result = Render(request);
  EXPECT_EQ(result.failure, GetParam().failure);
  EXPECT_TRUE(result.pages.empty());
  // Nothing of a failed render stays in the cache.
  std::error_code ignored;
  EXPECT_TRUE(std::filesystem::is_empty(request.cacheFolder, ignored) || ignored);
}

INSTANTIATE_TEST_SUITE_P(
    Renderers, PageRendererFailureTest,
    testing::Values(
        TFailureCase{"NoBuiltIn", TPrinterLanguage::Zpl, "",
                     "No renderer for ZPL: name one in Job Settings (Renderer.ZPL=)"},
        TFailureCase{"KeyWithoutSlash", TPrinterLanguage::EscPos, "",
                     "No renderer for ESC/POS: name one in Job Settings (Renderer.ESCPOS=)"},
        TFailureCase{"TimeLimit", TPrinterLanguage::Zpl, "sleep 5",
                     "sleep ran longer than 0.1 s and was stopped"},
        TFailureCase{"ExitStatus", TPrinterLanguage::Pcl, "echo >&2; echo 'no font' >&2; exit 3",
                     "echo failed: exit status 3: no font"},
        TFailureCase{"Signal", TPrinterLanguage::Pcl, "kill -9 $$",
                     "kill failed: killed by signal 9"},
        TFailureCase{"NoPng", TPrinterLanguage::Zpl, "printf 'P4\\n1 1\\n\\0'",
                     "printf wrote something that is no PNG image"},
        TFailureCase{"CutShort", TPrinterLanguage::Zpl, "printf '\\211PNG\\r\\n\\032\\n'",
                     "printf wrote something that is no PNG image"},
        TFailureCase{"NoPage", TPrinterLanguage::Zpl, "cat >/dev/null", "cat wrote no page"}),
    [](const testing::TestParamInfo<TFailureCase>& info) { return info.param.name; });

TEST_F(PageRendererTest, GhostscriptMissingIsSaidWithHowToInstallIt) {
  const TEnvironmentOverride nowhere("PATH", folder_.Path());
  for (TPrinterLanguage language : {TPrinterLanguage::PostScript, TPrinterLanguage::Pdf}) {
    EXPECT_EQ(Render(Request(kTwoPages, language)).failure, kGhostscriptMissing);
  }
}

TEST(PjlEnteredLanguageTest, TakesTheEnteredOrTheFirstLanguageLine) {
  const std::string exit = "\x1b%-12345X";
  EXPECT_EQ(PjlEnteredLanguage(exit + "@PJL JOB\r\n@PJL ENTER LANGUAGE = PDF\r\n%PDF-1.4"),
            TPrinterLanguage::Pdf);
  EXPECT_EQ(PjlEnteredLanguage(exit + "@pjl enter language=postscript\n"),
            TPrinterLanguage::PostScript);
  EXPECT_EQ(PjlEnteredLanguage(exit + "@PJL JOB\r\n%!PS-Adobe-3.0\n"),
            TPrinterLanguage::PostScript);
  EXPECT_EQ(PjlEnteredLanguage(exit + "@PJL ENTER LANGUAGE = PCL\r\n\x1b"
                                      "E"),
            TPrinterLanguage::Pcl);
  EXPECT_EQ(PjlEnteredLanguage(exit + "@PJL INFO STATUS\r\n" + exit), TPrinterLanguage::Text);
}

}  // namespace

namespace {

TEST(RendererKeyTest, NamesEveryLanguageWithoutASlash) {
  const std::pair<TPrinterLanguage, std::string> keys[] = {
      {TPrinterLanguage::Pjl, "Renderer.PJL"},
      {TPrinterLanguage::Pcl, "Renderer.PCL"},
      {TPrinterLanguage::PostScript, "Renderer.PostScript"},
      {TPrinterLanguage::Pdf, "Renderer.PDF"},
      {TPrinterLanguage::Zpl, "Renderer.ZPL"},
      {TPrinterLanguage::EscPos, "Renderer.ESCPOS"},
      {TPrinterLanguage::Text, "Renderer.Text"}};
  for (const auto& [language, key] : keys) EXPECT_EQ(RendererKey(language), key);
}

TEST(RendererCommandTest, ReadsTheJobsKeyAfreshAndAnUnreadableFileNamesNone) {
  TTempFolder folder;
  const std::string settings = folder.FilePath("tarnock.ini");
  EXPECT_EQ(RendererCommand(settings, TPrinterLanguage::EscPos), "");
  ASSERT_TRUE(WriteWholeFile(settings, "[Jobs]\nRenderer.ESCPOS = my-receipt --png\n"));
  EXPECT_EQ(RendererCommand(settings, TPrinterLanguage::EscPos), "my-receipt --png");
  EXPECT_EQ(RendererCommand(settings, TPrinterLanguage::Zpl), "");
  // A folder where the file should be cannot be read.
  EXPECT_EQ(RendererCommand(folder.Path(), TPrinterLanguage::EscPos), "");
}

TEST(PageCacheFolderTest, FollowsTheCacheVariableElseHome) {
  TEnvironmentOverride cache("XDG_CACHE_HOME", "/c");
  EXPECT_EQ(PageCacheFolder(), "/c/tarnock/pages");
  ::setenv("XDG_CACHE_HOME", "relative", 1);
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    EXPECT_EQ(PageCacheFolder(), std::string(home) + "/.cache/tarnock/pages");
  }
}

// Only the newest drawn captures stay; a render under way and other files
// are not the cache's to remove.
TEST(RenderCacheTest, KeepsTheNewestRenders) {
  TTempFolder cache;
  const auto now = std::filesystem::file_time_type::clock::now();
  std::vector<std::string> keys;
  for (int i = 0; i < 4; ++i) {
    keys.push_back(std::string(31, 'a') + static_cast<char>('0' + i));
    const std::string folder = cache.FilePath(keys.back());
    std::filesystem::create_directory(folder);
    std::filesystem::last_write_time(folder, now - std::chrono::hours(4 - i));
  }
  std::filesystem::create_directory(cache.FilePath(keys[0] + ".part-1-1"));
  ASSERT_TRUE(WriteWholeFile(cache.FilePath("notes.txt"), "x"));
  PruneRenderCache(cache.Path(), 2);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(cache.Path()))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{keys[0] + ".part-1-1", keys[2], keys[3], "notes.txt"}));
}

}  // namespace
