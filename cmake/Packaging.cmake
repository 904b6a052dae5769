# Install rules and the Debian package (cpack -G DEB).
#
# Installed layout (prefix /usr for the package):
#   lib/vorlink45/              the agent and everything it finds beside its
#                               executable: module files, Vorlink.ini,
#                               components/ (a certutil placed in nss/ by
#                               hand is preferred to the system's)
#   bin/vorlink45               a relative symlink to lib/vorlink45/vorlink45
#                               (/proc/self/exe names the real file, so the
#                               agent still finds its folder)
#   share/applications, share/icons/hicolor, share/man, share/doc/vorlink45
#   /etc/xdg/autostart/vorlink45.desktop   starts the agent in every session
#
# The developer build keeps its bin/ folder as it is; nothing here changes it.

include(GNUInstallDirs)

set(VORLINK_PACKAGE_MAINTAINER "Vorlink45 developers <vorlink45@example.org>" CACHE STRING
  "Maintainer field of the Debian package: \"Name <address>\"")

set(agent_dir ${VORLINK_INSTALL_AGENT_DIR})
set(packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_out})

# Directories the install creates get 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS vorlink45 vorlink-component-host RUNTIME DESTINATION ${agent_dir})

file(CREATE_LINK ../${agent_dir}/vorlink45 ${packaging_out}/vorlink45 SYMBOLIC)
install(FILES ${packaging_out}/vorlink45 DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/resources/vorlink45.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging_src}/vorlink45.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Autostart entries are read from /etc/xdg/autostart by every XDG session.
install(FILES ${packaging_src}/vorlink45-autostart.desktop
  DESTINATION /etc/xdg/autostart RENAME vorlink45.desktop)

# The changelog and the manual page, compressed the way Debian ships them
# (gzip -n: no name or time stamp, so the bytes depend only on the text).
set(VORLINK_DEB_VERSION ${PROJECT_VERSION}-1)
configure_file(${packaging_src}/changelog.in ${packaging_out}/changelog.Debian @ONLY)
configure_file(${packaging_src}/vorlink45.1 ${packaging_out}/vorlink45.1 @ONLY)
foreach(text changelog.Debian vorlink45.1)
  execute_process(COMMAND gzip -9nc ${packaging_out}/${text}
    OUTPUT_FILE ${packaging_out}/${text}.gz RESULT_VARIABLE gzip_result)
  if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${packaging_out}/${text}")
  endif()
endforeach()
install(FILES ${packaging_src}/copyright ${packaging_out}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorlink45)
install(FILES ${packaging_out}/vorlink45.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Signing the installed manifest. This rule comes after every install rule
# that places a module file (components install theirs from their own
# folders, which run first), and after stripping (CPACK_STRIP_FILES strips
# while each target is installed), so the digests are over exactly the bytes
# that end up in the package. The result is checked with the public key the
# agent has compiled in.
get_property(manifest_files GLOBAL PROPERTY VORLINK_MANIFEST_FILES)
set(manifest_cert ${PROJECT_SOURCE_DIR}/resources/localhost.cert.der)
install(CODE "
  set(agent_folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${agent_dir}\")
  message(STATUS \"Signing: \${agent_folder}/Vorlink.ini\")
  execute_process(
    COMMAND \"$<TARGET_FILE:vorlink-manifest>\" sign --key \"${VORLINK_MANIFEST_PRIVATE_KEY}\"
            --cert \"${manifest_cert}\" --base \"\${agent_folder}\" --out \"\${agent_folder}/Vorlink.ini\"
            ${manifest_files}
    RESULT_VARIABLE sign_result)
  if(NOT sign_result EQUAL 0)
    message(FATAL_ERROR \"Could not sign \${agent_folder}/Vorlink.ini\")
  endif()
  execute_process(
    COMMAND \"$<TARGET_FILE:vorlink-manifest>\" verify --pubkey \"${VORLINK_MANIFEST_PUBLIC_KEY}\"
            --cert \"${manifest_cert}\" \"\${agent_folder}/Vorlink.ini\"
    OUTPUT_QUIET
    RESULT_VARIABLE verify_result)
  if(NOT verify_result EQUAL 0)
    message(FATAL_ERROR \"The installed Vorlink.ini does not verify with the agent's manifest key\")
  endif()
  file(CHMOD \"\${agent_folder}/Vorlink.ini\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${agent_folder}/Vorlink.ini\")
")

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlink45)
set(CPACK_PACKAGE_VENDOR "Vorlink45 developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VORLINK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop agent that lets web pages use smart cards")
# Debian wants the long description in lines of at most 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Vorlink45 runs in the user's desktop session and serves a small HTTPS API"
  "on localhost (ports 48200 to 48202). Web pages use it to reach the user's"
  "smart cards and PKCS#11 tokens through the bundled crypto component, which"
  "talks to every token p11-kit knows."
  ""
  "The agent starts with every desktop session, shows a tray icon, keeps a"
  "diagnostic log, and makes Firefox and Chromium trust the certificate"
  "authority it makes for its user alone.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps; certutil (browser trust)
# and the p11-kit proxy module (dlopened by the component) are run or
# loaded, not linked, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libnss3-tools, p11-kit")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_src}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
