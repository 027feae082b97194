# The Debian package (make package): what `cmake --install` installs, under /usr, its
# dependencies found from the libraries the program links.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME echowarden)
set(CPACK_PACKAGE_VENDOR "EchoWarden")
set(CPACK_PACKAGE_CONTACT "EchoWarden developers <maintainers@echowarden.net>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # echowarden_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://echowarden.net/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop monitor that pings a list of hosts")
# CPack puts the summary first and indents these lines under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "EchoWarden keeps a list of IP addresses and host names and pings every entry
in turn, at an interval of minutes, seconds or tenth-seconds. Every attempt
becomes one line in the results list; failures are counted, can sound the
system beep, and can be appended to a plain-text log file. An unattended mode
rests during a daily range of hours.")
# The libraries come from dpkg-shlibdeps; Qt's platform plugins are loaded at run time, so no
# library names them; setcap gives the capability where ping sockets are refused.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst
    ${CMAKE_SOURCE_DIR}/packaging/postrm ${CMAKE_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
