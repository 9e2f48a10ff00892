#include <gtest/gtest.h>

#include "config/setup_config.h"

// This executable carries no configuration resource.
TEST(ConfigResource, MissingResourceGivesAnEmptyTable) {
  EXPECT_EQ(L"", LoadConfigText());
  LoadSetupConfig();
  EXPECT_TRUE(SetupConfig.empty());
  EXPECT_EQ(L"", GetConfigValue(L"app.name"));
  EXPECT_EQ(L"", GetConfigText(L"summary"));
}
