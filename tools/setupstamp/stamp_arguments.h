// The stamping tool's command line.
#pragma once

#include <string>
#include <vector>

enum StampMode { STAMP_MODE_HELP, STAMP_MODE_OUT, STAMP_MODE_IN_PLACE, STAMP_MODE_CHECK, STAMP_MODE_PRINT };

// Exit codes of setupstamp.exe.
const int STAMP_EXIT_OK = 0;
const int STAMP_EXIT_CHECK_FAILED = 1;  // errors in the text, or warnings with --strict
const int STAMP_EXIT_USAGE = 2;
const int STAMP_EXIT_FILE_FAILED = 3;   // a file or resource could not be read or written

// --pin KEY=FILE: the SHA-256 of FILE becomes the value of the pin key KEY.
struct PinRequest {
  std::wstring key;
  std::wstring path;
};

struct StampOptions {
  StampMode mode;
  bool strict;
  std::wstring configPath;
  std::wstring exePath;
  std::wstring outPath;  // the written exe: --out, or exePath for --in-place
  std::vector<PinRequest> pins;
  // --signer KEY=FILE: the SHA-256 of FILE's signing key joins KEY's list (a
  // key may be given more than once, in the order of the list).
  std::vector<PinRequest> signers;
};

extern const wchar_t STAMP_USAGE[];

// Fills `options` from the arguments after the program name. On a usage
// mistake returns false and says what is wrong in `problem`.
bool ParseStampArguments(int count, const wchar_t* const* arguments, StampOptions& options,
                         std::wstring& problem);
