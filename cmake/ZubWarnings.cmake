# Warnings on everywhere; errors only with ZUB_WERROR (on in the presets and
# the test command), so that a newer compiler's new warning does not break
# the build of someone who just wants the library.
function(zub_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${ZUB_WERROR}>:-Werror>
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
endfunction()
