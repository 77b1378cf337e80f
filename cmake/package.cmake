set(PLUGIN_MAINTAINER "The plugin_quorincode_login authors <noreply@localhost>")

# What `cmake --install` puts where, and the release packages CPack makes of it:
# a ZIP for Windows; a .tar.gz and a .deb for Linux. scripts/release.sh builds them.
set(DOC_FILES README.md LICENSE)
# The packages' version: the program's, a "+" and the number of its packaging.
# The first packaging of 1.0.0 put the program in /usr/lib/cgi-bin/, and apt
# upgrades only to a higher version.
set(PLUGIN_PACKAGE_VERSION ${PROJECT_VERSION}+1)
# What a node needs of docs/: the README points an operator there.
set(NODE_DOCS docs/deploy.md docs/reference.md docs/troubleshooting.md docs/login-cli-protocol.md)
if(WIN32)
  # Everything at the top of the ZIP, the program beside its README.
  install(TARGETS plugin_quorincode_login RUNTIME DESTINATION .)
  install(FILES ${DOC_FILES} DESTINATION .)
  install(FILES ${NODE_DOCS} DESTINATION docs)
  install(FILES deploy/README.md DESTINATION deploy)
  install(DIRECTORY deploy/iis deploy/apache-windows DESTINATION deploy)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME Windows-x86_64)
else()
  # The configurations and their filler are used by the setup, so they are
  # not under doc/, which a system may leave out.
  set(DOC_DIR share/doc/plugin-quorincode-login)
  set(DATA_DIR share/plugin-quorincode-login)
  # A folder of its own, where no web server runs programs by default (Debian's
  # lighttpd and Apache map /cgi-bin/ to lib/cgi-bin/, where no route's
  # settings, and so no node password, apply): only the operator's route reaches it.
  install(TARGETS plugin_quorincode_login RUNTIME DESTINATION lib/plugin-quorincode-login)
  install(FILES README.md DESTINATION ${DOC_DIR})
  install(FILES LICENSE DESTINATION ${DOC_DIR} RENAME copyright)
  install(FILES ${NODE_DOCS} DESTINATION ${DOC_DIR}/docs)
  install(FILES deploy/README.md DESTINATION ${DOC_DIR}/deploy)
  install(PROGRAMS deploy/fill-config DESTINATION ${DATA_DIR}/deploy)
  install(DIRECTORY deploy/lighttpd deploy/apache deploy/nginx DESTINATION ${DATA_DIR}/deploy)
  install(FILES cmake/lintian-overrides DESTINATION share/lintian/overrides
          RENAME plugin-quorincode-login)

  # A native package's changelog: the newest entry dated by the commit
  # (string(TIMESTAMP) takes SOURCE_DATE_EPOCH), compressed without a name or
  # time of its own.
  string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${CMAKE_BINARY_DIR}/changelog
       "plugin-quorincode-login (${PLUGIN_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
       "  * The program moves to /usr/lib/plugin-quorincode-login/, out of the\n"
       "    web servers' /cgi-bin/, where it ran without the node password.\n"
       "  * The first install makes a node password in\n"
       "    /etc/plugin-quorincode-login/node-password; purge removes it.\n\n"
       " -- ${PLUGIN_MAINTAINER}  ${changelog_date}\n\n"
       "plugin-quorincode-login (1.0.0) unstable; urgency=medium\n\n"
       "  * Release 1.0.0.\n\n"
       " -- ${PLUGIN_MAINTAINER}  Thu, 10 Dec 2026 00:45:59 +0000\n")
  execute_process(COMMAND gzip -n -9 -c changelog OUTPUT_FILE changelog.gz
                  WORKING_DIRECTORY ${CMAKE_BINARY_DIR} COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${DOC_DIR})
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME Linux-x86_64)
endif()

set(CPACK_PACKAGE_NAME plugin_quorincode_login)
set(CPACK_PACKAGE_VERSION ${PLUGIN_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "The plugin_quorincode_login authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorin Code sign-in for a bot platform node (CGI program)")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_NAME plugin-quorincode-login)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PLUGIN_MAINTAINER})
# One string: a list would reach the control file with ";" between its items.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A CGI program that reports the node's Quorin Code session, drives a paste-code\n"
    "sign-in and token renewal through the external login and refresh CLIs, and\n"
    "serves a console page. Installed as\n"
    "/usr/lib/plugin-quorincode-login/plugin_quorincode_login, which no web server\n"
    "runs until a route is configured; web server configurations are in\n"
    "/usr/share/plugin-quorincode-login/deploy/.")
# Linked statically: it depends on nothing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# The node password: made at the first install, removed by purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
