#include "tools/setupstamp/file_access.h"

#include <wchar.h>

std::wstring DescribeFileError(unsigned long code) {
  const wchar_t* meaning;
  switch (code) {
    case FILE_ERROR_NOT_FOUND: meaning = L"the file does not exist"; break;
    case FILE_ERROR_PATH_NOT_FOUND: meaning = L"the folder does not exist"; break;
    case FILE_ERROR_ACCESS_DENIED: meaning = L"access denied (read-only or protected)"; break;
    case FILE_ERROR_SHARING_VIOLATION: meaning = L"the file is in use"; break;
    case FILE_ERROR_DISK_FULL: meaning = L"the disk is full"; break;
    case FILE_ERROR_NAME_TOO_LONG: meaning = L"the name is too long"; break;
    case FILE_ERROR_NOT_A_FOLDER: meaning = L"no such folder"; break;
    default: meaning = L"system error"; break;
  }
  wchar_t number[24];
  swprintf(number, 24, L"%lu", code);
  number[23] = L'\0';
  return L"error " + std::wstring(number) + L": " + meaning;
}

std::wstring FileFailure(const std::wstring& path, const std::wstring& what, const std::wstring& description) {
  return path + L": error: " + what + L" (" + description + L")";
}

static void AppendPiece(void* context, const char* data, size_t size) {
  static_cast<std::string*>(context)->append(data, size);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& failure) {
  bytes.clear();
  return ReadFilePieces(path, AppendPiece, &bytes, failure);
}
