# The deployable tree: `cmake --install <build> --prefix X` and the ZIP that
# the kv_release target makes (release/kvfetch-<version>-win32.zip) hold the
# same files, signed and stripped; the debug information is in a second ZIP.
#
#   X/Wirelink.dll                 stand-in network library, test-signed
#   X/STANDINS.txt                 which files a real deployment replaces
#   X/SHA256SUMS                   a checksum for every other file
#   X/app/bin/kvfetch.exe
#   X/app/bin/kvfetch-doctor.exe
#   X/app/bin/QXSDK2.dll           stand-in decoding library
#   X/tools/kvseal.exe             the operators' sealing tool
#
# Each target names its place with kv_shipped_binary (cmake/release.cmake);
# cmake/release_tree.cmake lays the tree out and packs it.

include(${CMAKE_CURRENT_LIST_DIR}/release_tree.cmake)
