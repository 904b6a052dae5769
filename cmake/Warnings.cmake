# vorlink_warnings(target): the project's warning set, errors in CI builds.
function(vorlink_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  # The sanitizers' instrumentation defeats GCC's flow analysis: it then
  # reports "may be used uninitialized" inside the standard library
  # (std::regex's std::function members) where plain builds see nothing.
  # Plain builds keep the warning.
  if(VORLINK_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  if(VORLINK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
