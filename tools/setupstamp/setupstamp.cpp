// setupstamp.exe: checks a product's configuration text and writes it into a
// prebuilt setup.exe as the configuration resource, or prints the one it has.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/console_output.h"
#include "tools/setupstamp/exe_resource.h"
#include "tools/setupstamp/pin_option.h"
#include "tools/setupstamp/signer_option.h"
#include "tools/setupstamp/stamp_arguments.h"
#include "tools/setupstamp/text_encoding.h"

static std::wstring Count(int count, const wchar_t* noun) {
  wchar_t text[64];
  _snwprintf(text, 64, L"%d %ls%ls", count, noun, count == 1 ? L"" : L"s");
  text[63] = L'\0';
  return text;
}

static int PrintConfiguration(const StampOptions& options) {
  std::string bytes;
  int languages = 0;
  std::wstring failure;
  if (!ReadConfigResource(options.exePath, bytes, languages, failure)) {
    WriteError(failure + L"\n");
    return STAMP_EXIT_FILE_FAILED;
  }
  if (languages > 1)
    WriteError(options.exePath + L": warning: it carries the configuration in " + Count(languages, L"language") +
               L"; this is the Chinese (PRC) one, or else the first\n");
  std::wstring text;
  if (!WideFromGbk(bytes, text)) {
    WriteError(options.exePath + L": warning: its configuration holds bytes that are not valid GBK\n");
    text = WideFromGbkLoosely(bytes);
  }
  WriteOutput(text);
  return STAMP_EXIT_OK;
}

static int StampConfiguration(const StampOptions& options) {
  std::string input;
  std::wstring failure;
  if (!ReadWholeFile(options.configPath, input, failure)) {
    WriteError(failure + L"\n");
    return STAMP_EXIT_FILE_FAILED;
  }
  std::vector<std::wstring> pins;
  for (size_t i = 0; i < options.pins.size(); ++i) {
    std::wstring pin;
    if (!PinOfFile(options.pins[i].path, pin, failure)) {
      WriteError(failure + L"\n" +
                 (options.mode == STAMP_MODE_CHECK ? std::wstring() : options.outPath + L": nothing written\n"));
      return STAMP_EXIT_FILE_FAILED;
    }
    pins.push_back(pin);
  }
  // Each --signer key's list, in the order given, and the files it came from.
  std::vector<std::wstring> signerKeys, signerLists, signerSources;
  for (size_t i = 0; i < options.signers.size(); ++i) {
    std::string file, key;
    std::wstring digest, problem;
    const PinRequest& signer = options.signers[i];
    bool ok = ReadWholeFile(signer.path, file, failure);
    if (ok && !SignerKeyOfFile(file, key, problem)) {
      failure = signer.path + L": error: " + problem;
      ok = false;
    }
    if (ok) ok = DigestOfBytes(key, signer.path, digest, failure);
    if (!ok) {
      WriteError(failure + L"\n" +
                 (options.mode == STAMP_MODE_CHECK ? std::wstring() : options.outPath + L": nothing written\n"));
      return STAMP_EXIT_FILE_FAILED;
    }
    WriteError(signer.path + L": signing key SHA-256 " + digest + L"\n");
    size_t k = 0;
    while (k < signerKeys.size() && signerKeys[k] != signer.key) ++k;
    if (k == signerKeys.size()) {
      signerKeys.push_back(signer.key);
      signerLists.push_back(digest);
      signerSources.push_back(signer.path);
    } else {
      signerLists[k] += L"," + digest;
      signerSources[k] += L" and " + signer.path;
    }
  }
  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(input, encoding, lines, messages);
  for (size_t i = 0; i < pins.size(); ++i)
    ApplyPin(lines, options.pins[i].key, pins[i], options.pins[i].path, messages);
  for (size_t i = 0; i < signerKeys.size(); ++i)
    ApplySigner(lines, signerKeys[i], signerLists[i], signerSources[i], messages);
  CheckConfigLines(lines, messages);
  for (size_t i = 0; i < messages.size(); ++i)
    WriteError(FormatCheckMessage(options.configPath, messages[i]) + L"\n");
  int errors = CountMessages(messages, CHECK_ERROR);
  int warnings = CountMessages(messages, CHECK_WARNING);
  std::wstring summary = options.configPath + L": read as " + TextEncodingName(encoding) + L", " +
                         Count(errors, L"error") + L", " + Count(warnings, L"warning");
  if (errors > 0 || (options.strict && warnings > 0)) {
    WriteError(summary + (options.mode == STAMP_MODE_CHECK ? L"\n" : L"; nothing written\n"));
    return STAMP_EXIT_CHECK_FAILED;
  }
  if (options.mode == STAMP_MODE_CHECK) {
    WriteError(summary + L"\n");
    return STAMP_EXIT_OK;
  }
  std::string text;
  if (!BuildStampedText(lines, text)) {
    WriteError(options.configPath + L": error: the text cannot be written in GBK; nothing written\n");
    return STAMP_EXIT_CHECK_FAILED;
  }
  int removed = 0;
  bool signatureRemoved = false;
  if (!StampConfigResource(options.exePath, options.outPath, text, removed, signatureRemoved, failure)) {
    WriteError(failure + L"\n" + options.outPath + L": nothing written\n");
    return STAMP_EXIT_FILE_FAILED;
  }
  if (removed == 0)
    WriteError(options.exePath + L": warning: it carried no configuration before; is it a setup.exe?\n");
  if (signatureRemoved)
    WriteError(options.exePath + L": warning: its Authenticode signature does not cover the new configuration, so " +
               options.outPath + L" is written without it; sign " + options.outPath + L" again\n");
  WriteError(summary + L"\n");
  wchar_t done[96];
  _snwprintf(done, 96, L": configuration stamped (%d bytes of GBK text, %d earlier cop%ls replaced)\n",
             static_cast<int>(text.size()), removed, removed == 1 ? L"y" : L"ies");
  done[95] = L'\0';
  WriteOutput(options.outPath + done);
  return STAMP_EXIT_OK;
}

int wmain(int argc, wchar_t** argv) {
  StampOptions options;
  std::wstring problem;
  if (!ParseStampArguments(argc - 1, argv + 1, options, problem)) {
    WriteError(L"setupstamp: " + problem + L"\n" + STAMP_USAGE);
    return STAMP_EXIT_USAGE;
  }
  if (options.mode == STAMP_MODE_HELP) {
    WriteOutput(STAMP_USAGE);
    return STAMP_EXIT_OK;
  }
  if (options.mode == STAMP_MODE_PRINT) return PrintConfiguration(options);
  return StampConfiguration(options);
}
