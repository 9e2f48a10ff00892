#include "platform/protected_file.h"

static_assert(PROTECTED_OWNER_RIGHTS == FILE_ALL_ACCESS, "full control of a file");
static_assert(PROTECTED_USER_RIGHTS == (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), "read and execute");

// A SID of the NT authority (5), laid out as SID is, with its one or two parts.
template <int PARTS>
struct NtSid {
  BYTE revision;
  BYTE partCount;
  BYTE authority[6];
  DWORD parts[PARTS];
};

// ACCESS_ALLOWED_ACE with its SID in place of SidStart.
template <int PARTS>
struct AllowEntry {
  BYTE type;
  BYTE flags;
  WORD size;
  ACCESS_MASK mask;
  NtSid<PARTS> sid;
};

// An ACL header and its three entries.
struct ProtectedAcl {
  ACL header;
  AllowEntry<2> administrators;
  AllowEntry<1> system;
  AllowEntry<1> interactive;
};

// SECURITY_DESCRIPTOR_RELATIVE's header; the offsets count from its start.
struct RelativeHeader {
  BYTE revision;
  BYTE sbz1;
  SECURITY_DESCRIPTOR_CONTROL control;
  DWORD owner;
  DWORD group;
  DWORD sacl;
  DWORD dacl;
};

struct FileDescriptor {
  RelativeHeader header;
  ProtectedAcl dacl;
};

// The owner follows the DACL.
struct FolderDescriptor {
  RelativeHeader header;
  ProtectedAcl dacl;
  NtSid<2> owner;
};
static_assert(sizeof(FileDescriptor) == 20 + 8 + 24 + 20 + 20, "laid out as the system reads it, unpadded");
static_assert(sizeof(FolderDescriptor) == sizeof(FileDescriptor) + 16, "the owner directly after the DACL");

const NtSid<2> ADMINISTRATORS = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};

// The three entries with `flags` (0, or inherited by files and folders made inside).
constexpr ProtectedAcl Entries(BYTE flags) {
  return {{ACL_REVISION, 0, sizeof(ProtectedAcl), 3, 0},
          {ACCESS_ALLOWED_ACE_TYPE, flags, sizeof(AllowEntry<2>), FILE_ALL_ACCESS, ADMINISTRATORS},
          {ACCESS_ALLOWED_ACE_TYPE, flags, sizeof(AllowEntry<1>), FILE_ALL_ACCESS, {1, 1, {0, 0, 0, 0, 0, 5}, {18}}},
          {ACCESS_ALLOWED_ACE_TYPE, flags, sizeof(AllowEntry<1>), PROTECTED_USER_RIGHTS,
           {1, 1, {0, 0, 0, 0, 0, 5}, {4}}}};
}

const SECURITY_DESCRIPTOR_CONTROL PROTECTED_CONTROL = SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED;

// Not const: the attributes take a writable pointer, though nothing writes to it.
static FileDescriptor FileSecurity = {{SECURITY_DESCRIPTOR_REVISION, 0, PROTECTED_CONTROL, 0, 0, 0, 20}, Entries(0)};
static FolderDescriptor FolderSecurity = {
    {SECURITY_DESCRIPTOR_REVISION, 0, PROTECTED_CONTROL, 20 + sizeof(ProtectedAcl), 0, 0, 20},
    Entries(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), ADMINISTRATORS};
static SECURITY_ATTRIBUTES FileAttributes = {sizeof(SECURITY_ATTRIBUTES), &FileSecurity, FALSE};
static SECURITY_ATTRIBUTES FolderAttributes = {sizeof(SECURITY_ATTRIBUTES), &FolderSecurity, FALSE};

SECURITY_ATTRIBUTES* ProtectedFileAttributes() {
  return &FileAttributes;
}

SECURITY_ATTRIBUTES* ProtectedFolderAttributes() {
  return &FolderAttributes;
}
