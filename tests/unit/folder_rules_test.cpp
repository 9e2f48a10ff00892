// The download folder's rules on plain values: which security a folder that
// is already there must have to be used, the fresh name, the plain form of a
// final path.
#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "platform/final_path.h"
#include "platform/folder_rules.h"
#include "platform/protected_file.h"

namespace {

// A self-relative descriptor in the system's notation, as the system builds it.
std::vector<BYTE> Descriptor(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR made = NULL;
  ULONG size = 0;
  std::vector<BYTE> bytes;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made, &size)) return bytes;
  bytes.assign(static_cast<BYTE*>(made), static_cast<BYTE*>(made) + size);
  LocalFree(made);
  return bytes;
}

std::wstring SidText(const BYTE* sid) {
  LPWSTR text = NULL;
  if (sid[0] == 0 || !ConvertSidToStringSidW(const_cast<BYTE*>(sid), &text)) return L"";
  std::wstring result = text;
  LocalFree(text);
  return result;
}

struct Judged {
  FolderVerdict verdict;
  std::wstring sid;
  DWORD rights;
};

Judged Judge(const std::vector<BYTE>& descriptor, DWORD size) {
  FolderObjection objection;
  FolderVerdict verdict = JudgeFolderDescriptor(descriptor.data(), size, &objection);
  EXPECT_EQ(verdict, objection.verdict);
  return {verdict, SidText(objection.sid), objection.rights};
}

Judged Judge(const std::wstring& sddl) {
  std::vector<BYTE> descriptor = Descriptor(sddl);
  EXPECT_FALSE(descriptor.empty()) << "not a descriptor: " << ::testing::PrintToString(sddl);
  return Judge(descriptor, static_cast<DWORD>(descriptor.size()));
}

const std::wstring USER = L"S-1-5-21-1-2-3-1001";

TEST(FolderSecurity, OwnedByTheAdministratorsOrSystemAndWritableByThemOnly) {
  const struct {
    const char* what;
    std::wstring sddl;
    FolderVerdict verdict;
    std::wstring sid;
    DWORD rights;
  } cases[] = {
      {"the folder setup.exe makes", PROTECTED_FOLDER_SDDL, FOLDER_TRUSTED, L"", 0},
      {"owned by SYSTEM, the others reading", L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
       FOLDER_TRUSTED, L"", 0},
      {"a deny grants nothing", L"O:BAD:P(A;;FA;;;BA)(D;;FA;;;WD)", FOLDER_TRUSTED, L"", 0},
      {"an empty DACL: the owner alone", L"O:BAD:P", FOLDER_TRUSTED, L"", 0},
      {"made by a user", L"O:" + USER + L"D:P(A;OICI;FA;;;BA)", FOLDER_FOREIGN_OWNER, USER, 0},
      {"owned by the Users", L"O:BUD:P(A;OICI;FA;;;BA)", FOLDER_FOREIGN_OWNER, L"S-1-5-32-545", 0},
      // What Wine shows of the folder setup.exe made: the Unix user owns every file.
      {"as Wine shows setup.exe's own", L"O:" + USER + L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + USER + L")",
       FOLDER_FOREIGN_OWNER, USER, 0},
      {"everyone may change it", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)", FOLDER_OTHERS_WRITE, L"S-1-1-0",
       FILE_ALL_ACCESS},
      {"the Users may delete what is inside, and no more", L"O:BAD:P(A;;FA;;;BA)(A;;0x40;;;BU)", FOLDER_OTHERS_WRITE,
       L"S-1-5-32-545", FILE_DELETE_CHILD},
      {"the Users may re-permission it, and no more", L"O:BAD:P(A;;FA;;;BA)(A;;WD;;;BU)", FOLDER_OTHERS_WRITE,
       L"S-1-5-32-545", WRITE_DAC},
      {"an entry for the files made inside only", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)", FOLDER_OTHERS_WRITE,
       L"S-1-3-0", FILE_ALL_ACCESS},
      {"no DACL given", L"O:BA", FOLDER_NO_DACL, L"", 0},
  };
  for (const auto& c : cases) {
    Judged judged = Judge(c.sddl);
    EXPECT_EQ(c.verdict, judged.verdict) << c.what;
    EXPECT_EQ(c.sid, judged.sid) << c.what;
    EXPECT_EQ(c.rights, judged.rights) << c.what;
  }
}

// A DACL that is there but null lets everyone do everything. (Built by the
// system's calls: Wine reads "NO_ACCESS_CONTROL" as an empty DACL.)
TEST(FolderSecurity, NullDaclIsRefused) {
  SECURITY_DESCRIPTOR absolute;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &sidSize));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&absolute, administrators, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, NULL, FALSE));
  std::vector<BYTE> relative(256);
  DWORD size = static_cast<DWORD>(relative.size());
  ASSERT_TRUE(MakeSelfRelativeSD(&absolute, relative.data(), &size));
  EXPECT_EQ(FOLDER_NO_DACL, Judge(relative, size).verdict);
}

// The second entry of "(A;;FA;;;BA)(A;;FA;;;WD)" given another type: one that
// grants nothing is passed over; an allowing one of another layout, or a type
// newer than any known, refuses the folder unread. (Wine's notation knows no
// object entries, so the type byte is set in place.)
TEST(FolderSecurity, EntryKindsThatGrantNothingArePassedOver) {
  const struct {
    BYTE type;
    FolderVerdict verdict;
  } cases[] = {
      {SYSTEM_MANDATORY_LABEL_ACE_TYPE, FOLDER_TRUSTED},
      {0x15, FOLDER_TRUSTED},  // an access filter, the newest type known
      {ACCESS_ALLOWED_OBJECT_ACE_TYPE, FOLDER_UNREAD_ENTRY},
      {0x16, FOLDER_UNREAD_ENTRY},
  };
  std::vector<BYTE> base = Descriptor(L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;WD)");
  ASSERT_FALSE(base.empty());
  const SECURITY_DESCRIPTOR_RELATIVE* header = reinterpret_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(base.data());
  const DWORD first = header->Dacl + sizeof(ACL);
  const DWORD second = first + reinterpret_cast<const ACE_HEADER*>(base.data() + first)->AceSize;
  for (const auto& c : cases) {
    std::vector<BYTE> descriptor = base;
    descriptor[second] = c.type;
    Judged judged = Judge(descriptor, static_cast<DWORD>(descriptor.size()));
    EXPECT_EQ(c.verdict, judged.verdict) << "type " << static_cast<int>(c.type);
    if (c.verdict == FOLDER_UNREAD_ENTRY) {
      EXPECT_EQ(c.type, judged.rights);
    }
  }
}

TEST(FolderSecurity, DescriptorCutShortIsRefused) {
  std::vector<BYTE> descriptor = Descriptor(PROTECTED_FOLDER_SDDL);
  ASSERT_FALSE(descriptor.empty());
  const DWORD size = static_cast<DWORD>(descriptor.size());
  EXPECT_EQ(FOLDER_TRUSTED, Judge(descriptor, size).verdict);
  // Whichever part comes last (the owner or the DACL) no longer fits.
  EXPECT_EQ(FOLDER_MALFORMED, Judge(descriptor, size - 1).verdict);
  EXPECT_EQ(FOLDER_MALFORMED, Judge(descriptor, 19).verdict) << "shorter than its header";
}

TEST(FreshFolder, NameCarriesEveryByteAndFitsOrIsRefused) {
  BYTE bytes[FRESH_FOLDER_BYTES];
  for (int i = 0; i < FRESH_FOLDER_BYTES; ++i) bytes[i] = static_cast<BYTE>(i * 17);
  WCHAR fresh[MAX_PATH];
  ASSERT_TRUE(FreshFolderName(L"C:\\Windows\\Temp\\brenvik-setup", bytes, fresh));
  EXPECT_STREQ(L"C:\\Windows\\Temp\\brenvik-setup-00112233445566778899aabbccddeeff", fresh);
  // The last folder that fits: 259 units with the hyphen and 32 digits.
  std::wstring folder = L"C:\\" + std::wstring(MAX_PATH - 1 - 33 - 3, L'f');
  EXPECT_TRUE(FreshFolderName(folder.c_str(), bytes, fresh));
  EXPECT_EQ(static_cast<size_t>(MAX_PATH - 1), std::wstring(fresh).size());
  folder += L'f';
  EXPECT_FALSE(FreshFolderName(folder.c_str(), bytes, fresh));
  EXPECT_STREQ(L"", fresh);
}

TEST(FinalPath, PlainFormOfDrivesAndSharesOnly) {
  const struct {
    const WCHAR* final;
    const WCHAR* plain;  // null: refused
  } cases[] = {
      {L"\\\\?\\C:\\Windows\\Temp\\brenvik-setup\\brenvik-setupv2.exe", L"C:\\Windows\\Temp\\brenvik-setup\\brenvik-setupv2.exe"},
      {L"\\\\?\\UNC\\server\\share\\brenvik-setupv2.exe", L"\\\\server\\share\\brenvik-setupv2.exe"},
      {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\a.exe", NULL},
      {L"\\\\?\\", NULL},
  };
  WCHAR plain[MAX_PATH];
  for (const auto& c : cases) {
    EXPECT_EQ(c.plain != NULL, PlainFromFinalPath(c.final, plain)) << ::testing::PrintToString(std::wstring(c.final));
    EXPECT_STREQ(c.plain != NULL ? c.plain : L"", plain);
  }
  // The longest plain forms that fit (259 units), and one unit more, on both roads.
  std::wstring drive = L"\\\\?\\C:\\" + std::wstring(MAX_PATH - 1 - 3, L'd');
  std::wstring share = L"\\\\?\\UNC\\s\\" + std::wstring(MAX_PATH - 1 - 4, L's');
  EXPECT_TRUE(PlainFromFinalPath(drive.c_str(), plain));
  EXPECT_TRUE(PlainFromFinalPath(share.c_str(), plain));
  EXPECT_EQ(static_cast<size_t>(MAX_PATH - 1), std::wstring(plain).size());
  EXPECT_FALSE(PlainFromFinalPath((drive + L"d").c_str(), plain));
  EXPECT_FALSE(PlainFromFinalPath((share + L"s").c_str(), plain));
}

}  // namespace
