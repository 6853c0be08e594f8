# Per-platform shape of the plug-in: its export list and where it installs.

set(BENDLENS_INSTALL_LIBDIR lib)
set(BENDLENS_INSTALL_INCDIR include)

if(APPLE)
  # The Mac renderer loads a 32-bit Intel library named bendlens.so from its
  # intel/ folder, and binds the renderer functions by name in a flat
  # namespace when it loads the library. Not buildable here: no Apple
  # toolchain. The preset mac-i386 sets CMAKE_OSX_ARCHITECTURES=i386; the
  # Linux preset i386 builds the same code with the same 32-bit layout and SSE
  # arithmetic, and is where it is tested.
  if(NOT CMAKE_OSX_ARCHITECTURES STREQUAL "i386")
    message(WARNING "The renderer loads 32-bit Intel plug-ins on the Mac; configure with "
                    "CMAKE_OSX_ARCHITECTURES=i386 (preset mac-i386).")
  endif()
  set_target_properties(bendlens PROPERTIES SUFFIX ".so" INSTALL_NAME_DIR "intel"
                                            BUILD_WITH_INSTALL_NAME_DIR ON)
  target_link_options(bendlens PRIVATE -flat_namespace -undefined dynamic_lookup
                      -exported_symbols_list ${CMAKE_CURRENT_SOURCE_DIR}/cmake/exports.macos)
  set_property(TARGET bendlens APPEND PROPERTY LINK_DEPENDS
               ${CMAKE_CURRENT_SOURCE_DIR}/cmake/exports.macos)
  set(BENDLENS_INSTALL_LIBDIR lib/intel)
elseif(UNIX)
  # Export exactly the four entry points; the renderer functions stay undefined
  # for the dynamic linker to bind at load time.
  target_link_options(bendlens PRIVATE
                      -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/cmake/exports.map)
  set_property(TARGET bendlens APPEND PROPERTY LINK_DEPENDS
               ${CMAKE_CURRENT_SOURCE_DIR}/cmake/exports.map)
endif()
