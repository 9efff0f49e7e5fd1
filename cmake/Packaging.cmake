# The Debian package: `cpack` in a build tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr builds tirasel_<version>_<arch>.deb from the
# install rules (scripts/package.sh does both).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tirasel)
set(CPACK_PACKAGE_VENDOR Brennick)
set(CPACK_PACKAGE_CONTACT "Brennick <tirasel@brennick.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "harvests the vocabulary of a web site")
set(CPACK_PACKAGE_DESCRIPTION
    "Tirasel fetches a web page, follows its links to further pages of the same site and adds\n"
    "every new word of their texts to a word list, in a window (tirasel) or on the command\n"
    "line (tirasel-cli).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.brennick.example/")
# The libraries the programs link come from dpkg-shlibdeps; what the window
# loads at run time does not show in them: Qt's German texts for its message
# boxes and file dialogs, and the fonts with the metrics the window was laid
# out for.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-liberation")
# The newest public suffix list for cookies and --scope domain (the library
# falls back to the list built into it); Dask for tirasel-dask, which says
# what to install when it is missing.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "publicsuffix, python3-distributed")

include(CPack)
