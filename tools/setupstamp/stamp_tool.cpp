#include "tools/setupstamp/stamp_tool.h"

#include <wchar.h>

#include <vector>

#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/console_output.h"
#include "tools/setupstamp/file_access.h"
#include "tools/setupstamp/pin_option.h"
#include "tools/setupstamp/sha256.h"
#include "tools/setupstamp/signer_option.h"
#include "tools/setupstamp/stamp_arguments.h"
#include "tools/setupstamp/text_encoding.h"

static std::wstring Count(int count, const wchar_t* noun) {
  return std::to_wstring(count) + L" " + noun + (count == 1 ? L"" : L"s");
}

std::wstring DescribeStampFailure(const std::wstring& exePath, ExeStampResult result) {
  const wchar_t* why;
  switch (result) {
    case EXE_STAMP_NOT_AN_IMAGE: why = L"cannot load it as a Windows program (its headers are not those of one)"; break;
    case EXE_STAMP_MALFORMED_RESOURCES: why = L"cannot read its resources (their directory is malformed)"; break;
    case EXE_STAMP_NO_CONFIG: why = L"it carries no configuration (resource type 1600, name 1601)"; break;
    case EXE_STAMP_MISPLACED_CERTIFICATE: why = L"its certificate table lies inside its sections or past its end"; break;
    case EXE_STAMP_SHARED_SECTION: why = L"its resources share their section with other data"; break;
    case EXE_STAMP_FIXED_FOLLOWER:
      why = L"its resource section cannot change size: a section behind it that its code addresses would move";
      break;
    case EXE_STAMP_NO_HEADER_ROOM: why = L"it has no resources and no room in its headers for them"; break;
    case EXE_STAMP_READ_BACK_DIFFERS: why = L"the configuration read back differs from the one written"; break;
    default: why = L"cannot stamp it"; break;
  }
  return exePath + L": error: " + why;
}

static int PrintConfiguration(const StampOptions& options) {
  std::string image, bytes;
  std::wstring failure;
  if (!ReadWholeFile(options.exePath, image, failure)) {
    WriteError(failure + L"\n");
    return STAMP_EXIT_FILE_FAILED;
  }
  int languages = 0;
  ExeStampResult result = ReadImageConfig(image, bytes, languages);
  if (result != EXE_STAMP_OK) {
    WriteError(DescribeStampFailure(options.exePath, result) + L"\n");
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

static void HashPiece(void* context, const char* data, size_t size) {
  Sha256* hash = static_cast<Sha256*>(context);
  // A failed step drops the computation; Sha256End then reports it.
  if (hash->state != NULL && Sha256Add(*hash, data, size) != SHA256_OK) Sha256End(*hash, NULL);
}

// The file's SHA-256 as 64 lower-case hexadecimal digits (setup.exe's pin form).
static bool PinOfFile(const std::wstring& path, std::wstring& pin, std::wstring& failure) {
  pin.clear();
  Sha256 hash;
  if (Sha256Begin(hash) != SHA256_OK) {
    failure = path + L": error: this system computes no SHA-256 (Windows XP needs Service Pack 3)";
    return false;
  }
  if (!ReadFilePieces(path, HashPiece, &hash, failure)) {
    if (hash.state != NULL) Sha256End(hash, NULL);
    return false;
  }
  unsigned char digest[SHA256_SIZE];
  if (Sha256End(hash, digest) != SHA256_OK) {
    failure = path + L": error: cannot compute its SHA-256";
    return false;
  }
  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(digest, text);
  pin = text;
  return true;
}

// The SHA-256 of the key that signs the file at `path` (a signed exe or a
// certificate), as 64 lower-case hexadecimal digits.
static bool SignerDigestOfFile(const std::wstring& path, std::wstring& digest, std::wstring& failure) {
  std::string file, key;
  std::wstring problem;
  if (!ReadWholeFile(path, file, failure)) return false;
  if (!SignerKeyOfFile(file, key, problem)) {
    failure = path + L": error: " + problem;
    return false;
  }
  unsigned char value[SHA256_SIZE];
  Sha256Result hashed = Sha256OfBytes(key, value);
  if (hashed != SHA256_OK) {
    failure = path + (hashed == SHA256_UNAVAILABLE ? L": error: this system computes no SHA-256 (Windows XP needs Service Pack 3)"
                                                   : L": error: cannot hash its key");
    return false;
  }
  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(value, text);
  digest = text;
  return true;
}

// Each --signer key's list, in the order given, and the files it came from.
struct SignerLists {
  std::vector<std::wstring> keys, lists, sources;
};

// The digests that --pin and --signer name, read from their files; false,
// with the error written, when a file cannot be read or hashed.
static bool ReadPinFiles(const StampOptions& options, std::vector<std::wstring>& pins, SignerLists& signers) {
  std::wstring failure;
  const std::wstring nothing = options.mode == STAMP_MODE_CHECK ? std::wstring() : options.outPath + L": nothing written\n";
  for (size_t i = 0; i < options.pins.size(); ++i) {
    std::wstring pin;
    if (!PinOfFile(options.pins[i].path, pin, failure)) {
      WriteError(failure + L"\n" + nothing);
      return false;
    }
    pins.push_back(pin);
  }
  for (size_t i = 0; i < options.signers.size(); ++i) {
    const PinRequest& signer = options.signers[i];
    std::wstring digest;
    if (!SignerDigestOfFile(signer.path, digest, failure)) {
      WriteError(failure + L"\n" + nothing);
      return false;
    }
    WriteError(signer.path + L": signing key SHA-256 " + digest + L"\n");
    size_t k = 0;
    while (k < signers.keys.size() && signers.keys[k] != signer.key) ++k;
    if (k == signers.keys.size()) {
      signers.keys.push_back(signer.key);
      signers.lists.push_back(digest);
      signers.sources.push_back(signer.path);
    } else {
      signers.lists[k] += L"," + digest;
      signers.sources[k] += L" and " + signer.path;
    }
  }
  return true;
}

// Writes the exe with the stamped `text` (GBK) to the output path and says so.
static int WriteStampedExe(const StampOptions& options, const std::string& text, const std::wstring& summary) {
  std::string source, stamped;
  std::wstring failure;
  int removed = 0;
  bool signatureRemoved = false;
  bool written = ReadWholeFile(options.exePath, source, failure);
  if (written) {
    ExeStampResult result = StampImage(source, text, stamped, removed, signatureRemoved);
    if (result != EXE_STAMP_OK) failure = DescribeStampFailure(options.exePath, result);
    written = result == EXE_STAMP_OK && ReplaceFileWith(options.outPath, stamped, failure);
  }
  if (!written) {
    WriteError(failure + L"\n" + options.outPath + L": nothing written\n");
    return STAMP_EXIT_FILE_FAILED;
  }
  if (removed == 0)
    WriteError(options.exePath + L": warning: it carried no configuration before; is it a setup.exe?\n");
  if (signatureRemoved)
    WriteError(options.exePath + L": warning: its Authenticode signature does not cover the new configuration, so " +
               options.outPath + L" is written without it; sign " + options.outPath + L" again\n");
  WriteError(summary + L"\n");
  WriteOutput(options.outPath + L": configuration stamped (" + std::to_wstring(text.size()) +
              L" bytes of GBK text, " + std::to_wstring(removed) + L" earlier cop" +
              (removed == 1 ? L"y" : L"ies") + L" replaced)\n");
  return STAMP_EXIT_OK;
}

static int StampConfiguration(const StampOptions& options) {
  std::string input;
  std::wstring failure;
  std::vector<std::wstring> pins;
  SignerLists signers;
  if (!ReadWholeFile(options.configPath, input, failure)) {
    WriteError(failure + L"\n");
    return STAMP_EXIT_FILE_FAILED;
  }
  if (!ReadPinFiles(options, pins, signers)) return STAMP_EXIT_FILE_FAILED;
  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(input, encoding, lines, messages);
  for (size_t i = 0; i < pins.size(); ++i)
    ApplyPin(lines, options.pins[i].key, pins[i], options.pins[i].path, messages);
  for (size_t i = 0; i < signers.keys.size(); ++i)
    ApplySigner(lines, signers.keys[i], signers.lists[i], signers.sources[i], messages);
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
  return WriteStampedExe(options, text, summary);
}

int RunStampTool(int count, const wchar_t* const* arguments) {
  StampOptions options;
  std::wstring problem;
  if (!ParseStampArguments(count, arguments, options, problem)) {
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
