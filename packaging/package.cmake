# The Debian package: `make package` (cpack -G DEB in the build folder).
set(CPACK_PACKAGE_NAME dupfind)
set(CPACK_PACKAGE_VENDOR "The dupfind developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds files with identical content and deletes chosen copies")
set(CPACK_PACKAGE_DESCRIPTION
    "dupfind walks a folder and its subfolders, computes the MD5 digest of every file and\n\
shows the files with identical content in groups. The user may select one copy and\n\
delete it; the file is digested again first and kept if it has changed.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The dupfind developers")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The Qt runtime libraries, found by dpkg-shlibdeps from what the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
include(CPack)
