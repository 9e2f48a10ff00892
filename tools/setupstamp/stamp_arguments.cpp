#include "tools/setupstamp/stamp_arguments.h"

#include <vector>

#include "tools/setupstamp/pin_values.h"

const wchar_t STAMP_USAGE[] =
    L"usage:\n"
    L"  setupstamp [--strict] [--pin KEY=FILE]... [--signer KEY=FILE]... --out NEW.exe CONFIG.txt SETUP.exe\n"
    L"  setupstamp [--strict] [--pin KEY=FILE]... [--signer KEY=FILE]... --in-place CONFIG.txt SETUP.exe\n"
    L"  setupstamp [--strict] [--pin KEY=FILE]... [--signer KEY=FILE]... --check CONFIG.txt\n"
    L"  setupstamp --print SETUP.exe\n"
    L"CONFIG.txt is UTF-8 (with or without byte-order mark) or GBK, LF or CR LF.\n"
    L"--pin writes the SHA-256 of FILE as the value of KEY: app.sha256.v2 or\n"
    L"app.sha256.v4 (the product installer for that tag) or net2.sha256 (the\n"
    L"runtime installer). --signer writes the SHA-256 of the key that signs FILE (a\n"
    L"signed exe, or a certificate, PEM or DER) as the value of KEY: app.signer (the\n"
    L"product installer) or net2.signer (the runtime installer); give a KEY twice\n"
    L"to list two keys. A signed SETUP.exe comes out unsigned: sign NEW.exe again.\n"
    L"Errors stop with nothing written; warnings are printed, and with --strict\n"
    L"they stop as well. Exit codes: 0 done, 1 check failed, 2 usage, 3 file error.\n";

// The KEY=FILE that follows the option at arguments[*i] (--pin, --signer),
// whose key `accepted` must take (`names` lists the keys for the message).
static bool ReadKeyAndFile(const wchar_t* const* arguments, int count, int* i, bool (*accepted)(const std::wstring&),
                           const wchar_t* names, PinRequest& request, std::wstring& problem) {
  std::wstring option = arguments[*i];
  if (*i + 1 >= count) {
    problem = option + L" needs KEY=FILE";
    return false;
  }
  std::wstring text = arguments[++*i];
  size_t equals = text.find(L'=');
  request.key = text.substr(0, equals);
  request.path = equals == std::wstring::npos ? std::wstring() : text.substr(equals + 1);
  if (!accepted(request.key)) {
    problem = option + L" takes " + names + L", not \"" + request.key + L"\"";
    return false;
  }
  if (request.path.empty()) {
    problem = option + L" " + request.key + L" needs =FILE";
    return false;
  }
  return true;
}

// Which of the mode options were given.
struct GivenModes {
  bool out, inPlace, check, print, help;
};

// One argument at `*i` (and the value it takes, moving *i past it) into
// `options`, `modes` or `names`. False, with `problem`, on a usage mistake.
static bool ReadArgument(int count, const wchar_t* const* arguments, int* i, StampOptions& options,
                         GivenModes* modes, std::vector<std::wstring>& names, std::wstring& problem) {
  std::wstring argument = arguments[*i];
  PinRequest request;
  if (argument == L"--strict") {
    options.strict = true;
  } else if (argument == L"--out") {
    if (modes->out) { problem = L"--out given twice"; return false; }
    if (*i + 1 >= count) { problem = L"--out needs a file name"; return false; }
    modes->out = true;
    options.outPath = arguments[++*i];
  } else if (argument == L"--pin") {
    if (!ReadKeyAndFile(arguments, count, i, IsPinKey, L"app.sha256.v2, app.sha256.v4 or net2.sha256", request,
                        problem))
      return false;
    for (size_t k = 0; k < options.pins.size(); ++k)
      if (options.pins[k].key == request.key) { problem = L"--pin " + request.key + L" given twice"; return false; }
    options.pins.push_back(request);
  } else if (argument == L"--signer") {
    if (!ReadKeyAndFile(arguments, count, i, IsSignerKey, L"app.signer or net2.signer", request, problem))
      return false;
    options.signers.push_back(request);
  } else if (argument == L"--in-place") {
    modes->inPlace = true;
  } else if (argument == L"--check") {
    modes->check = true;
  } else if (argument == L"--print") {
    modes->print = true;
  } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
    modes->help = true;
  } else if (argument.size() > 1 && argument[0] == L'-') {
    problem = L"unknown option " + argument;
    return false;
  } else {
    names.push_back(argument);
  }
  return true;
}

// The one mode the options name, and the files it takes.
static bool ChooseMode(const GivenModes& modes, const std::vector<std::wstring>& names, StampOptions& options,
                       std::wstring& problem) {
  int count = (modes.out ? 1 : 0) + (modes.inPlace ? 1 : 0) + (modes.check ? 1 : 0) + (modes.print ? 1 : 0);
  if (count == 0) {
    problem = names.empty() ? L"nothing to do" : L"say where the result goes: --out NEW.exe or --in-place";
    return false;
  }
  if (count > 1) {
    problem = L"choose one of --out, --in-place, --check and --print";
    return false;
  }
  if (modes.print) {
    if (names.size() != 1) { problem = L"--print takes one exe"; return false; }
    if (!options.pins.empty()) { problem = L"--print takes no --pin"; return false; }
    if (!options.signers.empty()) { problem = L"--print takes no --signer"; return false; }
    options.mode = STAMP_MODE_PRINT;
    options.exePath = names[0];
    return true;
  }
  if (modes.check) {
    if (names.size() != 1) { problem = L"--check takes one configuration file"; return false; }
    options.mode = STAMP_MODE_CHECK;
    options.configPath = names[0];
    return true;
  }
  if (names.size() != 2) {
    problem = L"give the configuration file and then the exe";
    return false;
  }
  options.configPath = names[0];
  options.exePath = names[1];
  options.mode = modes.inPlace ? STAMP_MODE_IN_PLACE : STAMP_MODE_OUT;
  if (modes.inPlace) options.outPath = options.exePath;
  return true;
}

bool ParseStampArguments(int count, const wchar_t* const* arguments, StampOptions& options,
                         std::wstring& problem) {
  options.mode = STAMP_MODE_HELP;
  options.strict = false;
  options.configPath.clear();
  options.exePath.clear();
  options.outPath.clear();
  options.pins.clear();
  options.signers.clear();
  problem.clear();
  GivenModes modes = {false, false, false, false, false};
  std::vector<std::wstring> names;
  for (int i = 0; i < count; ++i)
    if (!ReadArgument(count, arguments, &i, options, &modes, names, problem)) return false;
  return modes.help || ChooseMode(modes, names, options, problem);
}
