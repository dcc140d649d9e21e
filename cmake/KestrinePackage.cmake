# The Debian package: "cpack -G DEB" in a build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrine)
set(CPACK_PACKAGE_VENDOR "Kestrine Pro")
set(CPACK_PACKAGE_CONTACT "Kestrine Pro developers <dev@kestrine.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover deleted files from FAT and NTFS drives")
# One string; dpkg wants the long description's lines short.
set(CPACK_PACKAGE_DESCRIPTION "Kestrine Pro scans FAT and NTFS volumes, disks and disk images for
deleted files and folders, shows what it finds with a preview, and copies the
chosen files to another drive. It never writes to the drive it scans.
The package holds the desktop program and the command-line tool.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://kestrine.invalid/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# Libraries the programs link come from dpkg-shlibdeps; plugins Qt loads at run time it cannot see:
# the SVG icon plugins, and the Wayland platform (X11's comes with libqt6gui6).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(KESTRINE_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, shared-mime-info, hicolor-icon-theme")
endif()
include(CPack)
