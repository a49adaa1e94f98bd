# `make package`: a Debian package made by CPack from the install rules. The package is meant to
# be built from a tree configured with CMAKE_INSTALL_PREFIX=/usr, so that the library folder
# follows Debian's multiarch layout.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velorin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Velorin developers")
set(CPACK_PACKAGE_CONTACT "Velorin developers <maintainers@velorin.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch image converter")
# The long description, wrapped for an 80-column terminal.
set(CPACK_PACKAGE_DESCRIPTION [[Velorin converts many images at once. It reads BMP, GIF, PNG, JPEG and
TIFF files, WebP, HEIF, AVIF and JPEG XL images, camera RAW files and the
members of ZIP, RAR, 7z, tar and comic-book archives, processes them
(rotation, automatic levels, gamma, contrast, hue and
saturation, resizing, sharpening) and writes BMP, PNG, JPEG, TIFF or GIF
files in the chosen colour depth, under names from its naming rules. JPEG
photographs can be turned upright without re-encoding. The same jobs run
from the command line.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the program and its plug-ins link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
