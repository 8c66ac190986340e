# Installation and the Debian package (cpack -G DEB, or the target deb).
#
# The package installs vornctl and vornctl-setup in /usr/sbin, the delivery
# agent in /usr/libexec/vornctl, the three man pages, the bash completion and
# a tmpfiles.d entry for the lock directory, the copyright file and the
# changelog; it depends on Postfix with its
# pcre tables, maildrop (deliverquota) and the shared libraries the programs
# link, found by dpkg-shlibdeps.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()
# Installing or packaging builds only what it installs (target deb), not
# every test program.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

include(${CMAKE_CURRENT_LIST_DIR}/Programs.cmake)

install(TARGETS vornctl vornctl-setup DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS vornctl-deliver vornctl-filter vornctl-autoresponder vornctl-remote
  DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vornctl)
foreach(page ${VORNCTL_MAN_PAGES})
  string(REGEX REPLACE ".*\\.([0-9])\\.gz$" "\\1" section ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
install(FILES ${VORNCTL_DOC_DIR}/vornctl.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vornctl)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/vornctl.tmpfiles
  DESTINATION lib/tmpfiles.d RENAME vornctl.conf)

set(VORNCTL_PACKAGE_VERSION 0.1.0 CACHE STRING "Version of the vornctl package")
set(VORNCTL_MAINTAINER "vornctl maintainers <maintainers@vornctl.example.org>"
  CACHE STRING "Maintainer of the vornctl package: name <address>")

# What Debian's policy asks of every package: the copyright file, a
# changelog (compressed, without a time stamp) and the overrides of
# lintian's checks the package answers for.
set(VORNCTL_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vornctl)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/changelog
  VERBATIM)
add_custom_target(vornctl-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
  DESTINATION ${VORNCTL_PACKAGE_DOC_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vornctl.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vornctl)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornctl)
set(CPACK_PACKAGE_VERSION ${VORNCTL_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "${VORNCTL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "mail management for Postfix, Courier-IMAP and Maildir mailboxes")
# Extended description lines stay within 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "vornctl makes one change to the mail system per run: domains, mailnames,\n"
  "mailboxes, redirects, aliases, server settings, mail handlers and\n"
  "services. vornctl-setup prepares a Postfix server for it; vornctl-deliver\n"
  "delivers mail as the tool's .qmail files say.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "postfix, postfix-pcre, maildrop, courier-imap, courier-pop, courier-authlib-sqlite, libsasl2-modules, openssl")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "courier-imap")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

add_custom_target(deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  DEPENDS vornctl vornctl-setup vornctl-deliver vornctl-filter vornctl-autoresponder vornctl-remote
    vornctl-docs vornctl-changelog
  COMMENT "Building the Debian package"
  VERBATIM)
