# The deployable tree: `cmake --install <build> --prefix X` and the ZIP that
# `cpack --config <build>/CPackConfig.cmake -G ZIP` makes hold the same files.
#
#   X/Wirelink.dll                 stand-in network library, test-signed
#   X/STANDINS.txt                 which files a real deployment replaces
#   X/app/bin/kvfetch.exe
#   X/app/bin/kvfetch-doctor.exe
#   X/app/bin/QXSDK2.dll           stand-in decoding library
#
# The install rules live beside their targets (standins/, tools/doctor/);
# this file adds the notice and the package settings.

install(FILES ${CMAKE_CURRENT_LIST_DIR}/STANDINS.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kvfetch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "kvfetch and kvfetch-doctor for 32-bit Windows, with stand-in libraries")
set(CPACK_PACKAGE_FILE_NAME kvfetch-${PROJECT_VERSION}-win32)
# One folder in the archive, laid out as the deployment's root.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Source packages would sweep up build trees; only binary ZIPs are made.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
