#include <gtest/gtest.h>

#include "config/setup_config.h"

// This executable carries no configuration resource.
TEST(ConfigResource, MissingResourceGivesAnEmptyTable) {
  static wchar_t text[CONFIG_TEXT_MAX];
  EXPECT_EQ(0, LoadConfigText(text));
  LoadSetupConfig();
  EXPECT_EQ(0, SetupConfig.count);
  wchar_t value[8] = L"x";
  EXPECT_TRUE(GetConfigValue(L"app.name", value, 8));
  EXPECT_STREQ(L"", value);
  wcscpy(value, L"x");
  EXPECT_TRUE(GetConfigText(L"summary", value, 8));
  EXPECT_STREQ(L"", value);
}
