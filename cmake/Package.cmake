# The Debian package of setuppack (`make package`): the tool in /usr/bin, the
# stub it packs in /usr/lib/setuppack (where the tool looks when --stub is not
# given), the manual page and the example package under the documentation
# directory. setup.exe comes from the cross build (build/bin/setup.exe).
set(SETUPPACK_VERSION 1.0.0)

set(MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/setuppack.1.gz)
add_custom_command(OUTPUT ${MAN_PAGE}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/setuppack.1 > ${MAN_PAGE}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/setuppack.1
  COMMENT "Compressing the manual page")
add_custom_target(man_page ALL DEPENDS ${MAN_PAGE})

install(TARGETS setuppack RUNTIME DESTINATION bin)
install(FILES ${PRODUCT_DIR}/setup.exe DESTINATION lib/setuppack)
# The window robot beside the stub: `setuppack try` reads and answers message
# boxes with it.
install(FILES ${PRODUCT_DIR}/tests/robot.exe DESTINATION lib/setuppack)
install(FILES ${MAN_PAGE} DESTINATION share/man/man1)
install(FILES README.md docs/manifest.md docs/setuppack.md DESTINATION share/doc/setuppack)
install(DIRECTORY examples DESTINATION share/doc/setuppack)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME setuppack)
set(CPACK_PACKAGE_VERSION ${SETUPPACK_VERSION})
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_CONTACT "Korvane release engineering <release@korvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Builds, checks and signs Korvane setup programs")
set(CPACK_PACKAGE_DESCRIPTION
  "setuppack packs files described by a TOML manifest into a Korvane setup program\n(a 32-bit Windows installer), lists, extracts and verifies such programs,\nsigns them with Authenticode and writes winget manifests for them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine, wine32, xvfb")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/package)
include(CPack)

# The package installs and its tool builds the example with the stub it
# finds in the package.
add_test(NAME debian_package
  COMMAND ${PROJECT_SOURCE_DIR}/tests/package/debian_package_test.sh
          ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${PRODUCT_DIR}/setup.exe)
set_tests_properties(debian_package PROPERTIES LABELS package TIMEOUT 300 SKIP_RETURN_CODE 77)
