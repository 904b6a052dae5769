# Applies VORLINK_SANITIZE (a comma-separated list such as
# "address,undefined" or "thread") to everything built after this point.
if(VORLINK_SANITIZE)
  add_compile_options(-fsanitize=${VORLINK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VORLINK_SANITIZE})
endif()

# Fuzz builds give libFuzzer coverage of every library the targets call,
# not only of the targets' own files.
if(VORLINK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
