#include "settings/build_defaults.h"

#include <gtest/gtest.h>

#include <cstring>

#include "build_defaults_values.h"

TEST(BuildDefaults, ValuesOfThisBuild) {
  EXPECT_EQ(defaults::DefaultUserName(), LU_DEFAULT_USER_NAME);
  EXPECT_EQ(defaults::DefaultPlaceCode(), LU_DEFAULT_PLACE_CODE);
  EXPECT_EQ(defaults::DefaultDownloadURL(), LU_DEFAULT_DOWNLOAD_URL);
  EXPECT_EQ(defaults::DefaultLanguage(), LU_DEFAULT_LANGUAGE);
  EXPECT_EQ(defaults::ApplicationCommand(), LU_APPLICATION_COMMAND);
  EXPECT_EQ(defaults::DefaultInstallPath(), LU_DEFAULT_INSTALL_PATH);
  EXPECT_EQ(defaults::ProgramGroupName(), LU_PROGRAM_GROUP_NAME);
  EXPECT_EQ(defaults::ApplicationName(), LU_APPLICATION_NAME);
  EXPECT_EQ(defaults::ProductRegistryKey(), LU_PRODUCT_REGISTRY_KEY);
  EXPECT_EQ(defaults::UpdaterFileName(), LU_UPDATER_FILE_NAME);
  EXPECT_EQ(defaults::DefaultDownloadLocation(), LU_DEFAULT_DOWNLOAD_LOCATION);
  EXPECT_EQ(defaults::PackageKey(), LU_PACKAGE_KEY);
  EXPECT_EQ(defaults::AllowUnauthenticated(), LU_ALLOW_UNAUTHENTICATED);
  EXPECT_EQ(defaults::MaxPackageSize(), LU_MAX_PACKAGE_SIZE);
  EXPECT_STREQ(defaults::BatchFileName, "LiveUpdate.bat");
  EXPECT_EQ(defaults::FileReplaceTimeout, 1000u);
  // The archive name the download step derives from the address.
  const std::string url = defaults::DefaultDownloadURL();
  EXPECT_EQ(url.substr(url.rfind('/')), "/kestrovafull.zip");
}

TEST(BuildDefaults, LayoutTable) {
  const uint32_t capacities[] = {132, 36, 260, 36, 260, 260, 36, 36, 132, 36, 36, 3072, 4, 24};
  size_t total = defaults::kSignatureSize;
  for (int i = 0; i < defaults::kFieldCount; ++i) {
    EXPECT_EQ(defaults::kFields[i].Capacity, capacities[i]) << defaults::kFields[i].Name;
    EXPECT_EQ(defaults::FieldOffset(i), total);
    total += capacities[i];
  }
  EXPECT_EQ(defaults::kBlockSize, total);
  EXPECT_EQ(defaults::FindField("defaultdownloadurl"), 2);
  EXPECT_EQ(defaults::FindField("DefaultDownloadLocation"), 10);
  EXPECT_EQ(defaults::FindField("packagekey"), 11);
  EXPECT_EQ(defaults::FindField("BatchFileName"), -1);
  EXPECT_EQ(defaults::Value(-1), "");
  EXPECT_EQ(defaults::FindField("maxpackagesize"), 13);
  EXPECT_EQ(defaults::Value(14), "");
  const std::string sig = defaults::Signature();
  EXPECT_EQ(sig.size(), defaults::kSignatureSize);
  EXPECT_EQ(sig.substr(1, 11), "LU-DEFAULTS");
}

TEST(BuildDefaults, FieldTextStopsAtTheFirstNul) {
  char field[36];
  std::memset(field, ' ', sizeof field);
  std::memcpy(field, "COW", 4);
  EXPECT_EQ(defaults::FieldText(field, sizeof field), "COW");
  field[0] = '\0';
  EXPECT_EQ(defaults::FieldText(field, sizeof field), "");
  // A field without any NUL gives its whole capacity, never more.
  std::memset(field, 'x', sizeof field);
  EXPECT_EQ(defaults::FieldText(field, sizeof field), std::string(36, 'x'));
}
