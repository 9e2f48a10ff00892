#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/setupstamp/stamp_arguments.h"

namespace {

bool Parse(std::vector<const wchar_t*> arguments, StampOptions& options, std::wstring& problem) {
  return ParseStampArguments(static_cast<int>(arguments.size()), arguments.data(), options, problem);
}

TEST(StampArguments, TheFourModes) {
  StampOptions options;
  std::wstring problem;
  ASSERT_TRUE(Parse({L"product.txt", L"setup.exe", L"--out", L"new.exe"}, options, problem));
  EXPECT_EQ(STAMP_MODE_OUT, options.mode);
  EXPECT_EQ(L"product.txt", options.configPath);
  EXPECT_EQ(L"setup.exe", options.exePath);
  EXPECT_EQ(L"new.exe", options.outPath);
  EXPECT_FALSE(options.strict);

  ASSERT_TRUE(Parse({L"--strict", L"--in-place", L"product.txt", L"setup.exe"}, options, problem));
  EXPECT_EQ(STAMP_MODE_IN_PLACE, options.mode);
  EXPECT_EQ(L"setup.exe", options.outPath) << "in place writes the exe itself";
  EXPECT_TRUE(options.strict);

  ASSERT_TRUE(Parse({L"--check", L"product.txt"}, options, problem));
  EXPECT_EQ(STAMP_MODE_CHECK, options.mode);
  EXPECT_EQ(L"product.txt", options.configPath);

  ASSERT_TRUE(Parse({L"--print", L"setup.exe"}, options, problem));
  EXPECT_EQ(STAMP_MODE_PRINT, options.mode);
  EXPECT_EQ(L"setup.exe", options.exePath);
  EXPECT_FALSE(options.strict) << "options are reset between calls";

  ASSERT_TRUE(Parse({L"--help"}, options, problem));
  EXPECT_EQ(STAMP_MODE_HELP, options.mode);
}

TEST(StampArguments, MistakesAreNamed) {
  StampOptions options;
  std::wstring problem;
  EXPECT_FALSE(Parse({L"product.txt", L"setup.exe"}, options, problem));
  EXPECT_EQ(L"say where the result goes: --out NEW.exe or --in-place", problem);
  EXPECT_FALSE(Parse({L"product.txt", L"setup.exe", L"--out"}, options, problem));
  EXPECT_EQ(L"--out needs a file name", problem);
  EXPECT_FALSE(Parse({L"--in-place", L"--out", L"x.exe", L"product.txt", L"setup.exe"}, options, problem));
  EXPECT_EQ(L"choose one of --out, --in-place, --check and --print", problem);
  EXPECT_FALSE(Parse({L"--in-place", L"setup.exe"}, options, problem));
  EXPECT_EQ(L"give the configuration file and then the exe", problem);
  EXPECT_FALSE(Parse({L"--print", L"a.exe", L"b.exe"}, options, problem));
  EXPECT_EQ(L"--print takes one exe", problem);
  EXPECT_FALSE(Parse({L"--inplace", L"product.txt", L"setup.exe"}, options, problem));
  EXPECT_EQ(L"unknown option --inplace", problem);
  EXPECT_FALSE(Parse({}, options, problem));
  EXPECT_EQ(L"nothing to do", problem);
}

TEST(StampArguments, Pins) {
  StampOptions options;
  std::wstring problem;
  ASSERT_TRUE(Parse({L"--pin", L"app.sha256.v4=out\\v4=new.exe", L"--pin", L"net2.sha256=dotnet.exe", L"--out",
                     L"new.exe", L"product.txt", L"setup.exe"},
                    options, problem));
  ASSERT_EQ(2u, options.pins.size());
  EXPECT_EQ(L"app.sha256.v4", options.pins[0].key);
  EXPECT_EQ(L"out\\v4=new.exe", options.pins[0].path) << "split at the first \"=\"";
  EXPECT_EQ(L"net2.sha256", options.pins[1].key);
  ASSERT_TRUE(Parse({L"--check", L"product.txt"}, options, problem));
  EXPECT_TRUE(options.pins.empty()) << "options are reset between calls";

  EXPECT_FALSE(Parse({L"--pin", L"app.sha256.v2=a.exe", L"--pin", L"app.sha256.v2=b.exe", L"--check", L"p.txt"},
                     options, problem));
  EXPECT_EQ(L"--pin app.sha256.v2 given twice", problem);
  EXPECT_FALSE(Parse({L"--pin", L"app.sha256.v2=", L"--check", L"p.txt"}, options, problem));
  EXPECT_EQ(L"--pin app.sha256.v2 needs =FILE", problem);
  EXPECT_FALSE(Parse({L"--pin", L"app.sha256.v2", L"--check", L"p.txt"}, options, problem));
  EXPECT_EQ(L"--pin app.sha256.v2 needs =FILE", problem);
  EXPECT_FALSE(Parse({L"--pin", L"net2.url1=a.exe", L"--check", L"p.txt"}, options, problem));
  EXPECT_EQ(L"--pin takes app.sha256.v2, app.sha256.v4 or net2.sha256, not \"net2.url1\"", problem);
  EXPECT_FALSE(Parse({L"--check", L"p.txt", L"--pin"}, options, problem));
  EXPECT_EQ(L"--pin needs KEY=FILE", problem);
  EXPECT_FALSE(Parse({L"--print", L"setup.exe", L"--pin", L"net2.sha256=a.exe"}, options, problem));
  EXPECT_EQ(L"--print takes no --pin", problem);

  // A publisher pin key may be given twice: both keys are listed.
  ASSERT_TRUE(Parse({L"--signer", L"app.signer=old.pem", L"--signer", L"app.signer=new.exe", L"--check", L"p.txt"},
                    options, problem));
  ASSERT_EQ(2u, options.signers.size());
  EXPECT_EQ(L"new.exe", options.signers[1].path);
  EXPECT_FALSE(Parse({L"--signer", L"app.sha256.v2=a.exe", L"--check", L"p.txt"}, options, problem));
  EXPECT_EQ(L"--signer takes app.signer or net2.signer, not \"app.sha256.v2\"", problem);
  EXPECT_FALSE(Parse({L"--print", L"setup.exe", L"--signer", L"net2.signer=a.pem"}, options, problem));
  EXPECT_EQ(L"--print takes no --signer", problem);
}

}  // namespace
