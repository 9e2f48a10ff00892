// Plain-value decisions of the installer window: scaling, placements, centring
// and the choice of font faces. No window calls here.
#pragma once

#include <windows.h>

// Lengths in the window are given at this resolution and scaled from it.
const int BASE_DPI = 96;

const int WINDOW_WIDTH = 560;
const int WINDOW_HEIGHT = 360;

// Face name buffers hold 32 wide characters with the terminator, as LOGFONTW does.
const int FACE_NAME_SIZE = 32;
static_assert(FACE_NAME_SIZE == LF_FACESIZE, "face buffers match LOGFONTW");

// Code units of a text that the window shows (its title, a caption, a label),
// the terminator included; far beyond any real one.
const int WINDOW_TEXT_SIZE = 1024;

// Which candidate list a font enumeration serves (its lParam).
const int HEADING_FACE_LIST = 1;
const int BODY_FACE_LIST = 2;

struct Placement {
  int x;
  int y;
  int width;
  int height;
};

// The five controls that follow the client size.
struct ControlLayout {
  Placement startButton;
  Placement statusLabel;
  Placement percentLabel;
  Placement progressBar;
  Placement corpLabel;
};

// The factor for a screen resolution in dots per inch, in single precision.
float DpiScaleFor(int dpi);

// length × scale in single precision, truncated toward zero.
int ScaleLength(int length, float scale);

// Placements from the client rectangle's width and height.
ControlLayout LayoutControls(int clientWidth, int clientHeight, float scale);

// The two labels that keep the place they get at creation.
Placement TitlePlacement(float scale);
Placement SummaryPlacement(float scale);

// A width × height window centred on the desktop rectangle.
Placement CentreOnDesktop(const RECT& desktop, int width, int height);

// The candidate of the list that equals `face` exactly, or null.
const WCHAR* MatchFaceCandidate(const WCHAR* face, LPARAM list);

// `first`, a line feed and `second` into `text` (WINDOW_TEXT_SIZE code units).
// False, with `text` empty, when the two do not fit together.
bool JoinLines(const WCHAR* first, const WCHAR* second, WCHAR* text);
