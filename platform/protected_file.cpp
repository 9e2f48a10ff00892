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

// SECURITY_DESCRIPTOR_RELATIVE, then its DACL (an ACL header and three entries).
struct ProtectedDescriptor {
  BYTE revision;
  BYTE sbz1;
  SECURITY_DESCRIPTOR_CONTROL control;
  DWORD owner;
  DWORD group;
  DWORD sacl;
  DWORD dacl;
  ACL aclHeader;
  AllowEntry<2> administrators;
  AllowEntry<1> system;
  AllowEntry<1> interactive;
};
static_assert(sizeof(ProtectedDescriptor) == 20 + 8 + 24 + 20 + 20, "laid out as the system reads it, unpadded");

const WORD ACL_BYTES = sizeof(ProtectedDescriptor) - 20;
// Not const: the attributes take a writable pointer, though nothing writes to it.
static ProtectedDescriptor Descriptor = {
    SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED, 0, 0, 0, 20,
    {ACL_REVISION, 0, ACL_BYTES, 3, 0},
    {ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowEntry<2>), FILE_ALL_ACCESS, {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}}},
    {ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowEntry<1>), FILE_ALL_ACCESS, {1, 1, {0, 0, 0, 0, 0, 5}, {18}}},
    {ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowEntry<1>), PROTECTED_USER_RIGHTS, {1, 1, {0, 0, 0, 0, 0, 5}, {4}}},
};
static SECURITY_ATTRIBUTES Attributes = {sizeof(SECURITY_ATTRIBUTES), &Descriptor, FALSE};

SECURITY_ATTRIBUTES* ProtectedFileAttributes() {
  return &Attributes;
}
