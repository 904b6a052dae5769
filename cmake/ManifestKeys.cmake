# The agent opens Vorlink.ini with the public key compiled into it, and the
# build signs Vorlink.ini with the private key. A pair that does not belong
# together builds an agent that refuses its own modules, so configuring
# stops here instead: the public key derived from VORLINK_MANIFEST_PRIVATE_KEY
# must be the one in VORLINK_MANIFEST_PUBLIC_KEY (a "PUBLIC KEY" PEM, the
# form the agent reads).

find_program(VORLINK_OPENSSL_COMMAND openssl)
if(NOT VORLINK_OPENSSL_COMMAND)
  message(FATAL_ERROR "The openssl command is needed to check the manifest key pair (Debian package openssl).")
endif()

foreach(key_var VORLINK_MANIFEST_PUBLIC_KEY VORLINK_MANIFEST_PRIVATE_KEY)
  if(NOT EXISTS "${${key_var}}")
    message(FATAL_ERROR "${key_var} names a file that does not exist: ${${key_var}}")
  endif()
endforeach()

execute_process(
  COMMAND ${VORLINK_OPENSSL_COMMAND} pkey -in ${VORLINK_MANIFEST_PRIVATE_KEY} -passin pass: -pubout
  OUTPUT_VARIABLE derived_public_key
  ERROR_VARIABLE openssl_error
  RESULT_VARIABLE openssl_result)
if(NOT openssl_result EQUAL 0)
  message(FATAL_ERROR "VORLINK_MANIFEST_PRIVATE_KEY is not a private key openssl can read: "
                      "${VORLINK_MANIFEST_PRIVATE_KEY}\n${openssl_error}")
endif()
file(READ ${VORLINK_MANIFEST_PUBLIC_KEY} configured_public_key)
string(REGEX REPLACE "[ \t\r\n]" "" derived_public_key "${derived_public_key}")
string(REGEX REPLACE "[ \t\r\n]" "" configured_public_key "${configured_public_key}")
if(NOT derived_public_key STREQUAL configured_public_key)
  message(FATAL_ERROR
    "The manifest keys do not belong together: the public half of\n"
    "  VORLINK_MANIFEST_PRIVATE_KEY=${VORLINK_MANIFEST_PRIVATE_KEY}\n"
    "is not\n"
    "  VORLINK_MANIFEST_PUBLIC_KEY=${VORLINK_MANIFEST_PUBLIC_KEY}\n"
    "An agent built this way would refuse every manifest the build signs. Give both halves of one "
    "pair (openssl pkey -in KEY.pem -pubout -out PUB.pem makes the public half).")
endif()
unset(derived_public_key)
unset(configured_public_key)
