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

}  // namespace
