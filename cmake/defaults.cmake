# The build-time defaults. Each becomes a NUL-terminated field of fixed
# capacity in the program's data block; lu-defaults can rewrite them later.
set(LU_DEFAULT_USER_NAME "" CACHE STRING "Registry value UserName (capacity 132)")
set(LU_DEFAULT_PLACE_CODE "" CACHE STRING "Registry value PlaceCode (capacity 36)")
set(LU_DEFAULT_DOWNLOAD_URL "http://update.orbax.invalid/kestrova/kestrovafull.zip"
    CACHE STRING "Address of the full package (capacity 260)")
set(LU_DEFAULT_LANGUAGE "ENGLISH" CACHE STRING "Language section (capacity 36)")
set(LU_APPLICATION_COMMAND "Kestrova" CACHE STRING "Programs to start, comma-separated (capacity 260)")
set(LU_DEFAULT_INSTALL_PATH "Program Files\\Drevanto\\Kestrova"
    CACHE STRING "Installation folder below the Windows drive (capacity 260)")
set(LU_PROGRAM_GROUP_NAME "Drevanto" CACHE STRING "Start-menu folder (capacity 36)")
set(LU_APPLICATION_NAME "Kestrova" CACHE STRING "Application name (capacity 36)")
set(LU_PRODUCT_REGISTRY_KEY "HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova"
    CACHE STRING "Product registry key (capacity 132)")
set(LU_UPDATER_FILE_NAME "ORBAXLiveUpdate.exe" CACHE STRING "This program's file name (capacity 36)")
set(LU_DEFAULT_DOWNLOAD_LOCATION "COW" CACHE STRING "Registry value DownloadLocation (capacity 36)")
set(LU_PACKAGE_KEY "" CACHE STRING
    "Base64 DER public keys, up to four separated by commas, one of which must sign each package's release statement; empty takes packages unsigned (capacity 3072)")
set(LU_ALLOW_UNAUTHENTICATED "0" CACHE STRING
    "1: a program without a package key takes unsigned packages over plain http too; 0: only over verified https")
set(LU_MAX_PACKAGE_SIZE "4294967296" CACHE STRING "Most bytes of a package taken without a release statement")
if(NOT LU_ALLOW_UNAUTHENTICATED MATCHES "^[01]$")
  message(FATAL_ERROR "LU_ALLOW_UNAUTHENTICATED is 0 or 1, not '${LU_ALLOW_UNAUTHENTICATED}'")
endif()
string(LENGTH "${LU_MAX_PACKAGE_SIZE}" _digits)
if(NOT LU_MAX_PACKAGE_SIZE MATCHES "^[1-9][0-9]*$" OR _digits GREATER 18)
  message(FATAL_ERROR "LU_MAX_PACKAGE_SIZE is a number of bytes, not '${LU_MAX_PACKAGE_SIZE}'")
endif()

# C string literals: backslashes and quotes escaped.
function(lu_c_literal out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()
foreach(v LU_DEFAULT_USER_NAME LU_DEFAULT_PLACE_CODE LU_DEFAULT_DOWNLOAD_URL LU_DEFAULT_LANGUAGE
          LU_APPLICATION_COMMAND LU_DEFAULT_INSTALL_PATH LU_PROGRAM_GROUP_NAME LU_APPLICATION_NAME
          LU_PRODUCT_REGISTRY_KEY LU_UPDATER_FILE_NAME LU_DEFAULT_DOWNLOAD_LOCATION LU_PACKAGE_KEY
          LU_ALLOW_UNAUTHENTICATED LU_MAX_PACKAGE_SIZE)
  lu_c_literal(${v}_LITERAL "${${v}}")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/src/settings/build_defaults_values.h.in
               ${CMAKE_BINARY_DIR}/generated/build_defaults_values.h @ONLY)
