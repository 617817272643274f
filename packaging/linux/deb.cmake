# The Debian package: cpack -G DEB in the linux build folder (or the zorvani-deb target).
set(ZORVANI_MAINTAINER "ZorvaniWallpaper developers <zorvani-wallpaper@users.noreply.github.com>")
set(doc share/doc/zorvani-wallpaper)
set(linux "${CMAKE_CURRENT_SOURCE_DIR}/linux")
set(out "${CMAKE_CURRENT_BINARY_DIR}/deb")

install(TARGETS ${ZORVANI_SHIPPED} RUNTIME DESTINATION bin)
install(FILES linux/zorvani-wallpaper.desktop DESTINATION /etc/xdg/autostart)
install(FILES linux/copyright DESTINATION ${doc})
install(FILES linux/lintian-overrides DESTINATION share/lintian/overrides RENAME zorvani-wallpaper)

# Debian wants man pages and the changelog compressed, reproducibly (-n: no name, no time).
string(TIMESTAMP ZORVANI_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(linux/changelog.in "${out}/changelog" @ONLY)
set(compressed "${out}/changelog.gz")
add_custom_command(OUTPUT "${out}/changelog.gz" COMMAND gzip -9nf changelog
  DEPENDS "${out}/changelog" WORKING_DIRECTORY "${out}" VERBATIM)
install(FILES "${out}/changelog.gz" DESTINATION ${doc})
foreach(program IN LISTS ZORVANI_SHIPPED)
  if(EXISTS "${linux}/${program}.1")
    configure_file("${linux}/${program}.1" "${out}/${program}.1" @ONLY)
    add_custom_command(OUTPUT "${out}/${program}.1.gz" COMMAND gzip -9nf ${program}.1
      DEPENDS "${out}/${program}.1" WORKING_DIRECTORY "${out}" VERBATIM)
    list(APPEND compressed "${out}/${program}.1.gz")
    install(FILES "${out}/${program}.1.gz" DESTINATION share/man/man1)
  endif()
endforeach()
add_custom_target(zorvani-deb-files ALL DEPENDS ${compressed})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvani-wallpaper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${ZORVANI_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "feh")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${linux}/conffiles;${linux}/postrm")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "picture calendar as desktop wallpaper, today framed")
set(CPACK_PACKAGE_DESCRIPTION "ZorvaniWallpaper keeps the desktop wallpaper set to this month's picture
of a picture calendar and frames today's date on it, checking every few
seconds for a new day. Each user runs zorvani-wallpaper-setup once to get a
sample calendar for this and next year; an administrator can set one
calendar for every user of the machine.")
include(CPack)
