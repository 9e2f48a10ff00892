#include "platform/folder_rules.h"

// The parts of a self-relative descriptor and of an ACL, as the system lays them out.
struct RelativeDescriptor {
  BYTE revision;
  BYTE sbz1;
  WORD control;
  DWORD owner;
  DWORD group;
  DWORD sacl;
  DWORD dacl;
};

struct EntryHeader {
  BYTE type;
  BYTE flags;
  WORD size;
};

// The SID that starts at `bytes`, when it lies whole in the `room` bytes there; null otherwise.
static const SID* SidWithin(const BYTE* bytes, DWORD room) {
  if (room < 8) return NULL;
  const SID* sid = reinterpret_cast<const SID*>(bytes);
  if (sid->Revision != SID_REVISION || sid->SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) return NULL;
  return room < 8u + 4u * sid->SubAuthorityCount ? NULL : sid;
}

const SID* TestTrustedSid;

static bool IsTestTrusted(const SID* sid) {
  if (TestTrustedSid == NULL || sid->SubAuthorityCount != TestTrustedSid->SubAuthorityCount) return false;
  const BYTE* a = reinterpret_cast<const BYTE*>(sid);
  const BYTE* b = reinterpret_cast<const BYTE*>(TestTrustedSid);
  for (DWORD i = 0; i < 8u + 4u * sid->SubAuthorityCount; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// The Administrators (S-1-5-32-544) or SYSTEM (S-1-5-18), or a test build's one more.
static bool IsAdministratorsOrSystem(const SID* sid) {
  if (IsTestTrusted(sid)) return true;
  static const BYTE NT_AUTHORITY[6] = {0, 0, 0, 0, 0, 5};
  for (int i = 0; i < 6; ++i)
    if (sid->IdentifierAuthority.Value[i] != NT_AUTHORITY[i]) return false;
  if (sid->SubAuthorityCount == 1) return sid->SubAuthority[0] == SECURITY_LOCAL_SYSTEM_RID;
  return sid->SubAuthorityCount == 2 && sid->SubAuthority[0] == SECURITY_BUILTIN_DOMAIN_RID &&
         sid->SubAuthority[1] == DOMAIN_ALIAS_RID_ADMINS;
}

FolderVerdict ObjectToFolder(FolderObjection* objection, FolderVerdict verdict, const SID* sid, DWORD rights) {
  objection->verdict = verdict;
  objection->rights = rights;
  objection->sid[0] = 0;
  if (sid != NULL) {
    DWORD length = 8 + 4 * sid->SubAuthorityCount;
    for (DWORD i = 0; i < length; ++i) objection->sid[i] = reinterpret_cast<const BYTE*>(sid)[i];
  }
  return verdict;
}

// Entries that may grant: the plain and the callback one are read (a mask, then
// the SID); the compound and object ones, and any type newer than the access
// filter (0x15), refuse the folder unread. Denies, audits, alarms and labels
// grant nothing.
static bool GrantsNothing(BYTE type) {
  const BYTE NEWEST_KNOWN_TYPE = 0x15;
  return type <= NEWEST_KNOWN_TYPE && type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_COMPOUND_ACE_TYPE &&
         type != ACCESS_ALLOWED_OBJECT_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE &&
         type != ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
}

// The DACL's entries, each inside the ACL and the ACL inside the descriptor.
static FolderVerdict JudgeEntries(const BYTE* acl, DWORD aclSize, FolderObjection* objection) {
  const ACL* header = reinterpret_cast<const ACL*>(acl);
  DWORD at = sizeof(ACL);
  for (WORD i = 0; i < header->AceCount; ++i) {
    const EntryHeader* entry = reinterpret_cast<const EntryHeader*>(acl + at);
    if (aclSize - at < sizeof(EntryHeader) || entry->size < sizeof(EntryHeader) || entry->size > aclSize - at)
      return ObjectToFolder(objection, FOLDER_MALFORMED, NULL, 0);
    if (!GrantsNothing(entry->type)) {
      if (entry->type != ACCESS_ALLOWED_ACE_TYPE && entry->type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
        return ObjectToFolder(objection, FOLDER_UNREAD_ENTRY, NULL, entry->type);
      const SID* sid = entry->size < 8 ? NULL : SidWithin(acl + at + 8, entry->size - 8u);
      if (sid == NULL) return ObjectToFolder(objection, FOLDER_MALFORMED, NULL, 0);
      DWORD mask = *reinterpret_cast<const DWORD*>(acl + at + 4);
      if ((mask & FOLDER_WRITE_RIGHTS) != 0 && !IsAdministratorsOrSystem(sid))
        return ObjectToFolder(objection, FOLDER_OTHERS_WRITE, sid, mask);
    }
    at += entry->size;
  }
  return ObjectToFolder(objection, FOLDER_TRUSTED, NULL, 0);
}

FolderVerdict JudgeFolderDescriptor(const void* descriptor, DWORD size, FolderObjection* objection) {
  const BYTE* bytes = static_cast<const BYTE*>(descriptor);
  const RelativeDescriptor* header = reinterpret_cast<const RelativeDescriptor*>(bytes);
  // The owner first: it may always rewrite the DACL.
  bool ownerInside = size >= sizeof(RelativeDescriptor) && header->owner >= sizeof(RelativeDescriptor) &&
                     header->owner < size;
  const SID* owner = ownerInside ? SidWithin(bytes + header->owner, size - header->owner) : NULL;
  if (owner == NULL) return ObjectToFolder(objection, FOLDER_MALFORMED, NULL, 0);
  if (!IsAdministratorsOrSystem(owner)) return ObjectToFolder(objection, FOLDER_FOREIGN_OWNER, owner, 0);
  if ((header->control & SE_DACL_PRESENT) == 0 || header->dacl == 0)
    return ObjectToFolder(objection, FOLDER_NO_DACL, NULL, 0);
  const ACL* acl = reinterpret_cast<const ACL*>(bytes + header->dacl);
  if (header->dacl < sizeof(RelativeDescriptor) || header->dacl > size || size - header->dacl < sizeof(ACL) ||
      acl->AclSize < sizeof(ACL) || acl->AclSize > size - header->dacl)
    return ObjectToFolder(objection, FOLDER_MALFORMED, NULL, 0);
  return JudgeEntries(bytes + header->dacl, acl->AclSize, objection);
}

bool FreshFolderName(const WCHAR* folder, const BYTE bytes[FRESH_FOLDER_BYTES], WCHAR* fresh) {
  static const WCHAR DIGITS[] = L"0123456789abcdef";
  int length = lstrlenW(folder);
  fresh[0] = L'\0';
  if (length + 1 + 2 * FRESH_FOLDER_BYTES >= MAX_PATH) return false;
  lstrcpyW(fresh, folder);
  fresh[length++] = L'-';
  for (int i = 0; i < FRESH_FOLDER_BYTES; ++i) {
    fresh[length++] = DIGITS[bytes[i] >> 4];
    fresh[length++] = DIGITS[bytes[i] & 15];
  }
  fresh[length] = L'\0';
  return true;
}
