# The hardening a distribution builds with: checked buffer functions (they need optimisation),
# a stack protector, and relocations resolved and made read-only at start (bindnow, relro).
# Sanitizer builds bring checks of their own, which the fortified functions would hide.
string(FIND "${CMAKE_CXX_FLAGS}" "-fsanitize" lumenor_sanitized)
if(lumenor_sanitized EQUAL -1)
  add_compile_options(-fstack-protector-strong
                      "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(-Wl,-z,relro,-z,now)
