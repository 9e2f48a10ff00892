// Plain-value decisions of the installer window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "shell/progress_display.h"
#include "shell/setup_window.h"
#include "shell/window_layout.h"

namespace {

void ExpectPlacement(const Placement& actual, int x, int y, int width, int height, const char* what) {
  EXPECT_EQ(x, actual.x) << what;
  EXPECT_EQ(y, actual.y) << what;
  EXPECT_EQ(width, actual.width) << what;
  EXPECT_EQ(height, actual.height) << what;
}

TEST(ScaleLength, TruncatesTowardZeroInsteadOfRounding) {
  EXPECT_FLOAT_EQ(1.0f, DpiScaleFor(96));
  EXPECT_FLOAT_EQ(1.25f, DpiScaleFor(120));
  EXPECT_FLOAT_EQ(1.5f, DpiScaleFor(144));
  EXPECT_EQ(187, ScaleLength(125, DpiScaleFor(144)));  // 187.5
  EXPECT_EQ(137, ScaleLength(110, DpiScaleFor(120)));  // 137.5
  EXPECT_EQ(156, ScaleLength(125, DpiScaleFor(120)));  // 156.25
  EXPECT_EQ(-187, ScaleLength(-125, DpiScaleFor(144)));
  // Single precision, not the x87 unit's wider product: these land on or just
  // above a whole number in float and just below it in extended precision.
  EXPECT_EQ(25, ScaleLength(24, DpiScaleFor(100)));
  EXPECT_EQ(375, ScaleLength(360, DpiScaleFor(100)));
  EXPECT_EQ(75, ScaleLength(72, DpiScaleFor(100)));
  EXPECT_EQ(560, ScaleLength(560, DpiScaleFor(96)));
  // 168 dpi is 1.75: 7 × 1.75 = 12.25.
  EXPECT_EQ(12, ScaleLength(7, DpiScaleFor(168)));
}

TEST(LayoutControls, At96DpiForTheFinalClientSize) {
  const ControlLayout layout = LayoutControls(560, 360, DpiScaleFor(96));
  ExpectPlacement(layout.startButton, 200, 160, 160, 40, "button");
  ExpectPlacement(layout.statusLabel, 32, 235, 496, 20, "status");
  ExpectPlacement(layout.percentLabel, 496, 235, 32, 20, "percent");
  ExpectPlacement(layout.progressBar, 32, 260, 496, 20, "progress");
  ExpectPlacement(layout.corpLabel, 32, 300, 496, 40, "corp");
  ExpectPlacement(TitlePlacement(DpiScaleFor(96)), 32, 32, 336, 72, "title");
  ExpectPlacement(SummaryPlacement(DpiScaleFor(96)), 32, 110, 400, 32, "summary");
}

TEST(LayoutControls, At120DpiForTheFinalClientSize) {
  const ControlLayout layout = LayoutControls(700, 450, DpiScaleFor(120));
  ExpectPlacement(layout.startButton, 250, 200, 200, 50, "button");
  ExpectPlacement(layout.statusLabel, 40, 294, 620, 25, "status");
  ExpectPlacement(layout.percentLabel, 620, 294, 40, 25, "percent");
  ExpectPlacement(layout.progressBar, 40, 325, 620, 25, "progress");
  ExpectPlacement(layout.corpLabel, 40, 375, 620, 50, "corp");
  ExpectPlacement(TitlePlacement(DpiScaleFor(120)), 40, 40, 420, 90, "title");
  ExpectPlacement(SummaryPlacement(DpiScaleFor(120)), 40, 137, 500, 40, "summary");
}

TEST(LayoutControls, At144DpiForTheFinalClientSize) {
  const ControlLayout layout = LayoutControls(840, 540, DpiScaleFor(144));
  ExpectPlacement(layout.startButton, 300, 240, 240, 60, "button");
  ExpectPlacement(layout.statusLabel, 48, 353, 744, 30, "status");
  ExpectPlacement(layout.percentLabel, 744, 353, 48, 30, "percent");
  ExpectPlacement(layout.progressBar, 48, 390, 744, 30, "progress");
  ExpectPlacement(layout.corpLabel, 48, 450, 744, 60, "corp");
  ExpectPlacement(TitlePlacement(DpiScaleFor(144)), 48, 48, 504, 108, "title");
  ExpectPlacement(SummaryPlacement(DpiScaleFor(144)), 48, 165, 600, 48, "summary");
}

// The first WM_SIZE comes while the window is still 0 × 0: negative sizes and
// odd halves are computed as signed integer arithmetic, truncated toward zero.
TEST(LayoutControls, EmptyAndOddClientSizes) {
  const ControlLayout empty = LayoutControls(0, 0, DpiScaleFor(96));
  ExpectPlacement(empty.startButton, -80, -20, 160, 40, "button");
  ExpectPlacement(empty.statusLabel, 32, -125, -64, 20, "status");
  ExpectPlacement(empty.percentLabel, -64, -125, 32, 20, "percent");
  const ControlLayout odd = LayoutControls(561, 361, DpiScaleFor(96));
  ExpectPlacement(odd.startButton, 200, 160, 160, 40, "button");
  ExpectPlacement(odd.percentLabel, 497, 236, 32, 20, "percent");
}

TEST(CentreOnDesktop, HalvesTheRoomAndTruncatesTowardZero) {
  RECT screen = {0, 0, 1280, 800};
  ExpectPlacement(CentreOnDesktop(screen, 560, 360), 360, 220, 560, 360, "96 dpi");
  ExpectPlacement(CentreOnDesktop(screen, 840, 540), 220, 130, 840, 540, "144 dpi");
  RECT odd = {0, 0, 1281, 801};
  ExpectPlacement(CentreOnDesktop(odd, 560, 360), 360, 220, 560, 360, "odd screen");
  // A window larger than the screen: -229.5 becomes -229, not -230.
  RECT small = {0, 0, 101, 99};
  ExpectPlacement(CentreOnDesktop(small, 560, 360), -229, -130, 560, 360, "small screen");
}

TEST(FaceCandidates, ExactCaseSensitiveMatchFromTheListOfTheEnumeration) {
  EXPECT_STREQ(L"微软雅黑", MatchFaceCandidate(L"微软雅黑", HEADING_FACE_LIST));
  EXPECT_STREQ(L"华文细黑", MatchFaceCandidate(L"华文细黑", HEADING_FACE_LIST));
  EXPECT_STREQ(L"黑体", MatchFaceCandidate(L"黑体", HEADING_FACE_LIST));
  EXPECT_EQ(nullptr, MatchFaceCandidate(L"Tahoma", HEADING_FACE_LIST));
  EXPECT_STREQ(L"Tahoma", MatchFaceCandidate(L"Tahoma", BODY_FACE_LIST));
  EXPECT_EQ(nullptr, MatchFaceCandidate(L"黑体", BODY_FACE_LIST));
  EXPECT_EQ(nullptr, MatchFaceCandidate(L"tahoma", BODY_FACE_LIST));
  EXPECT_EQ(nullptr, MatchFaceCandidate(L"Tahoma ", BODY_FACE_LIST));
  EXPECT_EQ(nullptr, MatchFaceCandidate(L"", BODY_FACE_LIST));
  // Any list other than the heading one is the body list.
  EXPECT_STREQ(L"Tahoma", MatchFaceCandidate(L"Tahoma", 7));
}

int Enumerate(const WCHAR* face, DWORD fontType, LPARAM list) {
  LOGFONTW font = {};
  lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  TEXTMETRICW metrics = {};
  return FontEnumProc(&font, &metrics, fontType, list);
}

// The first family of the enumeration that is in the list wins, whatever the
// list's own order; only TrueType families count.
TEST(FaceCandidates, EnumerationOrderDecides) {
  HeadingFace[0] = L'\0';
  EXPECT_EQ(1, Enumerate(L"宋体", TRUETYPE_FONTTYPE, HEADING_FACE_LIST));
  EXPECT_EQ(1, Enumerate(L"微软雅黑", RASTER_FONTTYPE, HEADING_FACE_LIST));
  EXPECT_EQ(1, Enumerate(L"微软雅黑", DEVICE_FONTTYPE | TRUETYPE_FONTTYPE, HEADING_FACE_LIST));
  EXPECT_STREQ(L"", HeadingFace);
  EXPECT_EQ(0, Enumerate(L"黑体", TRUETYPE_FONTTYPE, HEADING_FACE_LIST));
  EXPECT_STREQ(L"黑体", HeadingFace);

  BodyFace[0] = L'\0';
  EXPECT_EQ(1, Enumerate(L"黑体", TRUETYPE_FONTTYPE, BODY_FACE_LIST));
  EXPECT_STREQ(L"", BodyFace) << "no candidate: the face stays empty";
  EXPECT_EQ(0, Enumerate(L"Tahoma", TRUETYPE_FONTTYPE, BODY_FACE_LIST));
  EXPECT_STREQ(L"Tahoma", BodyFace);
  EXPECT_STREQ(L"黑体", HeadingFace) << "the lists fill their own buffers";
}

TEST(FormatPercent, FitsMinusOneToOneHundredAndRefusesLonger) {
  WCHAR text[PERCENT_TEXT_SIZE];
  ASSERT_TRUE(FormatPercent(text, 0));
  EXPECT_STREQ(L"0%", text);
  ASSERT_TRUE(FormatPercent(text, 37));
  EXPECT_STREQ(L"37%", text);
  ASSERT_TRUE(FormatPercent(text, 100));
  EXPECT_STREQ(L"100%", text);
  ASSERT_TRUE(FormatPercent(text, -1));
  EXPECT_STREQ(L"-1%", text);
  ASSERT_TRUE(FormatPercent(text, -99));
  EXPECT_STREQ(L"-99%", text);
  // Five characters and the terminator do not fit into five.
  EXPECT_FALSE(FormatPercent(text, 1000));
  EXPECT_STREQ(L"", text);
  EXPECT_FALSE(FormatPercent(text, -100));
  EXPECT_STREQ(L"", text);
}

TEST(WindowTexts, TwoLinesJoinUpToTheLimitAndNotBeyond) {
  WCHAR text[WINDOW_TEXT_SIZE];
  ASSERT_TRUE(JoinLines(L"产品", L"安装程序", text));
  EXPECT_STREQ(L"产品\n安装程序", text);
  ASSERT_TRUE(JoinLines(L"", L"", text));
  EXPECT_STREQ(L"\n", text);

  // Both lines and the line break fill the buffer with its terminator.
  const std::wstring first(400, L'a');
  const std::wstring second(WINDOW_TEXT_SIZE - 2 - 400, L'b');
  ASSERT_TRUE(JoinLines(first.c_str(), second.c_str(), text));
  EXPECT_EQ(first + L"\n" + second, std::wstring(text));
  EXPECT_FALSE(JoinLines(first.c_str(), (second + L"b").c_str(), text));
  EXPECT_STREQ(L"", text);
}

}  // namespace
