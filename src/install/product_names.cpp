#include "install/product_names.h"

#include "settings/build_defaults.h"

namespace install {

TProductNames TProductNames::FromBuildDefaults() {
  TProductNames names;
  names.ApplicationName = defaults::ApplicationName();
  names.ProgramGroupName = defaults::ProgramGroupName();
  names.ProductRegistryKey = defaults::ProductRegistryKey();
  names.UpdaterFileName = defaults::UpdaterFileName();
  names.ApplicationCommand = defaults::ApplicationCommand();
  names.DefaultUserName = defaults::DefaultUserName();
  names.DefaultPlaceCode = defaults::DefaultPlaceCode();
  names.DefaultDownloadLocation = defaults::DefaultDownloadLocation();
  return names;
}

}  // namespace install
