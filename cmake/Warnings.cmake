# vorlink_warnings(target): the project's warning set, errors in CI builds.
function(vorlink_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(VORLINK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
