# The Linux packages, from one set of install rules: cpack -G DEB (Debian, Ubuntu) and
# cpack -G RPM (Fedora, openSUSE) in the linux build folder.
set(ZORVANI_MAINTAINER "ZorvaniWallpaper developers <zorvani-wallpaper@users.noreply.github.com>")
set(doc share/doc/zorvani-wallpaper)
set(linux "${CMAKE_CURRENT_SOURCE_DIR}/linux")
set(out "${CMAKE_CURRENT_BINARY_DIR}/linux")

install(TARGETS ${ZORVANI_SHIPPED} RUNTIME DESTINATION bin)
# Packages leave out the compiler's .comment notes, as the distributions' own strip does.
foreach(program IN LISTS ZORVANI_SHIPPED)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\" COMMAND_ERROR_IS_FATAL ANY)
  endif()")
endforeach()
install(FILES linux/zorvani-wallpaper.desktop DESTINATION /etc/xdg/autostart)
install(FILES linux/copyright DESTINATION ${doc})

# bash-completion loads a command's completion from a file of the command's name; one
# script serves all four, the other names link to it.
set(completions share/bash-completion/completions)
install(FILES linux/zorvani.bash-completion DESTINATION ${completions} RENAME zorvani-wallpaper)
file(MAKE_DIRECTORY "${out}/completions")
foreach(program IN LISTS ZORVANI_SHIPPED)
  if(NOT program STREQUAL zorvani-wallpaper)
    file(CREATE_LINK zorvani-wallpaper "${out}/completions/${program}" SYMBOLIC)
    install(FILES "${out}/completions/${program}" DESTINATION ${completions})
  endif()
endforeach()

# Man pages and the changelog compressed, reproducibly (-n: no name, no time).
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
add_custom_target(zorvani-package-files ALL DEPENDS ${compressed})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvani-wallpaper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZorvaniWallpaper developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${ZORVANI_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "picture calendar as desktop wallpaper, today framed")
set(CPACK_PACKAGE_DESCRIPTION "ZorvaniWallpaper keeps the desktop wallpaper set to this month's picture
of a picture calendar and frames today's date on it, checking every few
seconds for a new day. Each user runs zorvani-wallpaper-setup once to get a
sample calendar for this and next year; an administrator can set one
calendar for every user of the machine.")

# Debian: the shared libraries' packages as Depends, from dpkg-shlibdeps.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl checks a published calendar's certificate against the system's authorities.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "feh")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${linux}/conffiles;${linux}/postrm")

# RPM: rpmbuild finds the shared libraries the programs need (libjpeg.so.62()(64bit)
# ...), which each distribution's own packages provide. No scriptlets: rpm -e keeps
# the machine's calendar, which an administrator made and removes with set-up.
string(TIMESTAMP ZORVANI_RPM_CHANGELOG_DATE "%a %b %d %Y" UTC)
configure_file(linux/rpm-changelog.in "${out}/rpm-changelog" @ONLY)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_RELEASE_DIST OFF)
set(CPACK_RPM_PACKAGE_LICENSE "LicenseRef-Proprietary")
set(CPACK_RPM_PACKAGE_GROUP "System/GUI/Other")
set(CPACK_RPM_PACKAGE_SUMMARY "Picture calendar as desktop wallpaper, today framed")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_AUTOREQ ON)
set(CPACK_PACKAGE_RELOCATABLE OFF)
# No /usr/lib/.build-id links: the package ships no debug information they would lead to.
# Suggests goes in here because CPack 3.25 drops CPACK_RPM_PACKAGE_SUGGESTS (its probe
# for weak dependencies runs an rpm command it never looked up).
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none
%define packager ${ZORVANI_MAINTAINER}
Suggests: feh")
set(CPACK_RPM_PACKAGE_REQUIRES "ca-certificates")
set(CPACK_RPM_CHANGELOG_FILE "${out}/rpm-changelog")
# Folders other packages own; the package owns only its own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /etc/xdg /etc/xdg/autostart /usr/share/man /usr/share/man/man1
    /usr/share/bash-completion /usr/share/bash-completion/completions)
set(CPACK_RPM_USER_FILELIST
    "%config(noreplace) /etc/xdg/autostart/zorvani-wallpaper.desktop"
    "%doc /usr/share/doc/zorvani-wallpaper/changelog.gz"
    "%license /usr/share/doc/zorvani-wallpaper/copyright")
include(CPack)
