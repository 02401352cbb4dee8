# Per-generator settings, read by CPack. The tarball unpacks anywhere: its
# directory holds bin/, lib/tcpserver/ and share/ with no /usr above them.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
