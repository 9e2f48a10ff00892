#include "shell/window_layout.h"

#include <wchar.h>

static const WCHAR* const HEADING_FACES[] = {L"微软雅黑", L"华文细黑", L"黑体", NULL};
static const WCHAR* const BODY_FACES[] = {L"微软雅黑", L"Tahoma", NULL};

// The results go through a float in memory: the x87 unit would otherwise keep
// its wider intermediate and truncate that instead (at 100 dpi, 24 would scale
// to 24 rather than the 25 of single precision).
float DpiScaleFor(int dpi) {
  volatile float scale = static_cast<float>(dpi) / 96.0f;
  return scale;
}

int ScaleLength(int length, float scale) {
  // The conversion truncates toward zero: 187.5 becomes 187.
  volatile float product = static_cast<float>(length) * scale;
  return static_cast<int>(product);
}

ControlLayout LayoutControls(int clientWidth, int clientHeight, float scale) {
  const int margin = ScaleLength(32, scale);
  const int rowHeight = ScaleLength(20, scale);
  const int innerWidth = clientWidth - 2 * margin;
  const int buttonWidth = ScaleLength(160, scale);
  const int buttonHeight = ScaleLength(40, scale);
  const int statusTop = clientHeight - ScaleLength(125, scale);

  ControlLayout layout;
  layout.startButton = {(clientWidth - buttonWidth) / 2, (clientHeight - buttonHeight) / 2,
                        buttonWidth, buttonHeight};
  layout.statusLabel = {margin, statusTop, innerWidth, rowHeight};
  layout.percentLabel = {clientWidth - margin - margin, statusTop, margin, rowHeight};
  layout.progressBar = {margin, clientHeight - ScaleLength(100, scale), innerWidth, rowHeight};
  layout.corpLabel = {margin, clientHeight - ScaleLength(60, scale), innerWidth,
                      ScaleLength(40, scale)};
  return layout;
}

Placement TitlePlacement(float scale) {
  const int margin = ScaleLength(32, scale);
  return {margin, margin, ScaleLength(400, scale) - 2 * margin, ScaleLength(72, scale)};
}

Placement SummaryPlacement(float scale) {
  return {ScaleLength(32, scale), ScaleLength(110, scale), ScaleLength(400, scale),
          ScaleLength(32, scale)};
}

Placement CentreOnDesktop(const RECT& desktop, int width, int height) {
  return {(desktop.right - width) / 2, (desktop.bottom - height) / 2, width, height};
}

const WCHAR* MatchFaceCandidate(const WCHAR* face, LPARAM list) {
  const WCHAR* const* candidates = list == HEADING_FACE_LIST ? HEADING_FACES : BODY_FACES;
  for (int i = 0; candidates[i] != NULL; ++i)
    if (wcscmp(face, candidates[i]) == 0) return candidates[i];
  return NULL;
}

bool JoinLines(const WCHAR* first, const WCHAR* second, WCHAR* text) {
  const size_t firstLength = wcslen(first);
  const size_t secondLength = wcslen(second);
  text[0] = L'\0';
  if (firstLength + 1 + secondLength >= static_cast<size_t>(WINDOW_TEXT_SIZE)) return false;
  wmemcpy(text, first, firstLength);
  text[firstLength] = L'\n';
  wmemcpy(text + firstLength + 1, second, secondLength);
  text[firstLength + 1 + secondLength] = L'\0';
  return true;
}
