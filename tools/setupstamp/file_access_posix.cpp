// The native tool's file work through POSIX calls. Paths are UTF-8 on the
// system's side; system errors are told by the numbers Windows uses for the
// same fault, so that both tools print the same message.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "tools/setupstamp/file_access.h"
#include "tools/setupstamp/text_encoding.h"

static std::string SystemPath(const std::wstring& path) { return Utf8FromWide(path); }

static bool FolderExists(const std::wstring& path) {
  struct stat status;
  return stat(SystemPath(FolderOfPath(path)).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Windows tells a missing file (2) from a missing folder on its way (3).
static std::wstring DescribeErrno(int error, const std::wstring& path) {
  switch (error) {
    case ENOENT: return DescribeFileError(FolderExists(path) ? FILE_ERROR_NOT_FOUND : FILE_ERROR_PATH_NOT_FOUND);
    case ENOTDIR: return DescribeFileError(FILE_ERROR_PATH_NOT_FOUND);
    case EACCES: case EPERM: case EROFS: case EISDIR: return DescribeFileError(FILE_ERROR_ACCESS_DENIED);
    case ETXTBSY: case EBUSY: return DescribeFileError(FILE_ERROR_SHARING_VIOLATION);
    case ENOSPC: case EDQUOT: return DescribeFileError(FILE_ERROR_DISK_FULL);
    case ENAMETOOLONG: return DescribeFileError(FILE_ERROR_NAME_TOO_LONG);
    default: break;
  }
  std::wstring text;
  WideFromUtf8(strerror(error), text);
  return L"errno " + std::to_wstring(error) + L": " + text;
}

static std::wstring Failure(const std::wstring& path, const std::wstring& what, int error) {
  return FileFailure(path, what, DescribeErrno(error, path));
}

std::wstring FolderOfPath(const std::wstring& path) {
  size_t slash = path.find_last_of(L'/');
  if (slash == std::wstring::npos) return L".";
  return slash == 0 ? std::wstring(L"/") : path.substr(0, slash);
}

bool ReadFilePieces(const std::wstring& path, FilePieceSink sink, void* context, std::wstring& failure) {
  int file = open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    failure = Failure(path, L"cannot open it", errno);
    return false;
  }
  bool ok = true;
  struct stat status;
  // Windows cannot open a folder as a file.
  if (fstat(file, &status) != 0 || S_ISDIR(status.st_mode)) {
    failure = Failure(path, L"cannot open it", S_ISDIR(status.st_mode) ? EISDIR : errno);
    ok = false;
  }
  char chunk[64 * 1024];
  while (ok) {
    ssize_t got = read(file, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failure = Failure(path, L"cannot read it", errno);
      ok = false;
    } else if (got == 0) {
      break;
    } else {
      sink(context, chunk, static_cast<size_t>(got));
    }
  }
  close(file);
  return ok;
}

static bool WriteAll(int file, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    ssize_t written = write(file, bytes.data() + offset, bytes.size() - offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    offset += static_cast<size_t>(written);
  }
  return true;
}

// A new file gets what the process's umask leaves of rw-rw-rw-; a replaced one keeps its mode.
static mode_t ModeFor(const struct stat* existing) {
  if (existing != NULL) return existing->st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool ReplaceFileWith(const std::wstring& target, const std::string& bytes, std::wstring& failure) {
  std::string systemTarget = SystemPath(target);
  struct stat status;
  bool exists = stat(systemTarget.c_str(), &status) == 0;
  // rename() replaces a file without write permission; Windows does not.
  if (exists && S_ISREG(status.st_mode) && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    failure = target + L": error: it is read-only";
    return false;
  }
  std::wstring folder = FolderOfPath(target);
  std::string pattern = SystemPath(folder) + "/stpXXXXXX";
  std::vector<char> temporary(pattern.begin(), pattern.end());
  temporary.push_back('\0');
  int file = mkstemp(temporary.data());
  if (file < 0) {
    int error = errno;
    // Windows says "no such folder" here, whatever is missing on its way.
    failure = FileFailure(folder, L"cannot create a temporary file in this folder",
                          error == ENOENT || error == ENOTDIR ? DescribeFileError(FILE_ERROR_NOT_A_FOLDER)
                                                              : DescribeErrno(error, folder));
    return false;
  }
  std::wstring temporaryName;
  WideFromUtf8(temporary.data(), temporaryName);
  bool done = WriteAll(file, bytes) && fchmod(file, ModeFor(exists ? &status : NULL)) == 0 && fsync(file) == 0;
  if (!done) failure = Failure(temporaryName, L"cannot write it", errno);
  if (close(file) != 0 && done) {
    failure = Failure(temporaryName, L"cannot write it", errno);
    done = false;
  }
  if (done && rename(temporary.data(), systemTarget.c_str()) != 0) {
    failure = Failure(target, L"cannot replace it", errno);
    done = false;
  }
  if (!done) unlink(temporary.data());
  return done;
}
