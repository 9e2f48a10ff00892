#include "platform/protected_folder.h"

#include "platform/protected_file.h"
#include "platform/system_library.h"

// Room for the owner and the DACL of a folder; a larger descriptor is refused
// unread (a fresh folder is made instead).
const DWORD FOLDER_DESCRIPTOR_SIZE = 1024;

// Opens the entry at `path` itself (a reparse point is opened, not followed)
// and refuses what is not a plain folder.
static FolderVerdict OpenFolderEntry(const WCHAR* path, HANDLE* held, FolderObjection* objection) {
  BY_HANDLE_FILE_INFORMATION information;
  FolderVerdict verdict = FOLDER_TRUSTED;
  *held = CreateFileW(path, FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (*held == INVALID_HANDLE_VALUE) return ObjectToFolder(objection, FOLDER_NOT_READ, NULL, GetLastError());
  if (!GetFileInformationByHandle(*held, &information))
    verdict = ObjectToFolder(objection, FOLDER_NOT_READ, NULL, GetLastError());
  else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    verdict = ObjectToFolder(objection, FOLDER_LINK, NULL, 0);
  else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    verdict = ObjectToFolder(objection, FOLDER_NOT_A_FOLDER, NULL, 0);
  if (verdict != FOLDER_TRUSTED) {
    CloseHandle(*held);
    *held = INVALID_HANDLE_VALUE;
  }
  return verdict;
}

DWORD MakeProtectedFolder(const WCHAR* path, HANDLE* held) {
  FolderObjection objection;
  *held = INVALID_HANDLE_VALUE;
  if (!CreateDirectoryW(path, ProtectedFolderAttributes())) return GetLastError();
  // Made just now with the protected descriptor: nobody else could have put anything under the name since.
  if (OpenFolderEntry(path, held, &objection) == FOLDER_TRUSTED) return 0;
  return objection.verdict == FOLDER_NOT_READ ? objection.rights : ERROR_ACCESS_DENIED;
}

FolderVerdict OpenExistingFolder(const WCHAR* path, HANDLE* held, FolderObjection* objection) {
  DWORD descriptor[FOLDER_DESCRIPTOR_SIZE / sizeof(DWORD)];  // aligned as the system's structures are
  DWORD size = 0;
  FolderVerdict verdict = OpenFolderEntry(path, held, objection);
  if (verdict != FOLDER_TRUSTED) return verdict;
  // Read through the handle that stays held: what is judged is what is used.
  if (!GetKernelObjectSecurity(*held, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor,
                               FOLDER_DESCRIPTOR_SIZE, &size))
    verdict = ObjectToFolder(objection, FOLDER_NOT_READ, NULL, GetLastError());
  else
    verdict = JudgeFolderDescriptor(descriptor, size < FOLDER_DESCRIPTOR_SIZE ? size : FOLDER_DESCRIPTOR_SIZE, objection);
  if (verdict != FOLDER_TRUSTED) {
    CloseHandle(*held);
    *held = INVALID_HANDLE_VALUE;
  }
  return verdict;
}

DWORD SystemRandomBytes(BYTE* bytes, ULONG count) {
  // advapi32 is imported (loaded already); on Windows 7 and later it forwards
  // this one to cryptbase.dll, which the DLL search defence keeps to the system folder.
  BOOLEAN(WINAPI * generate)(PVOID, ULONG) = NULL;
  HMODULE advapi32 = LoadSystemLibrary(L"advapi32.dll");
  if (advapi32 == NULL || !LookUpFunction(advapi32, "SystemFunction036", &generate)) return ERROR_PROC_NOT_FOUND;
  return generate(bytes, count) ? 0 : ERROR_GEN_FAILURE;
}
