# Warnings and floating-point rules, kept in one place.
#
# bendlens_warnings: every target of ours.
# bendlens_library_flags: the plug-in itself, which must reproduce its
# arithmetic to the bit: no contraction of a*b+c into a fused multiply-add
# (which skips a rounding), no fast-math (which reorders sums and assumes no
# NaN), no exceptions or RTTI (the library throws nothing and links nothing but
# the language runtime).

add_library(bendlens_warnings INTERFACE)
if(MSVC)
  target_compile_options(bendlens_warnings INTERFACE /W4 /WX)
else()
  target_compile_options(bendlens_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                     -Wconversion -Wno-sign-conversion -Werror)
endif()

add_library(bendlens_fp INTERFACE)
if(MSVC)
  target_compile_options(bendlens_fp INTERFACE /fp:precise /fp:contract-)
else()
  target_compile_options(bendlens_fp INTERFACE -ffp-contract=off -fno-fast-math)
endif()

add_library(bendlens_library_flags INTERFACE)
target_link_libraries(bendlens_library_flags INTERFACE bendlens_warnings bendlens_fp)
if(NOT MSVC)
  target_compile_options(bendlens_library_flags INTERFACE -fno-exceptions -fno-rtti)
endif()
