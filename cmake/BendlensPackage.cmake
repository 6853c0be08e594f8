# The zip package of a build: the plug-in, its declaration file and the
# README and licence, laid out as the renderer's shader folders expect (lib/, include/).
set(CPACK_PACKAGE_NAME bendlens)
set(CPACK_PACKAGE_VENDOR bendlens)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Curvature shader for the mental ray renderer")
set(CPACK_GENERATOR ZIP)
if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME "bendlens-${PROJECT_VERSION}-windows-x86_64")
endif()
include(CPack)
