# Signed update packages: libsodium verifies them against a public key built
# into the program (update/BuiltInKey.cpp).  Included by update/.
#
#   -DSHEAFLINE_UPDATE_PUBLIC_KEY=<base64>   the key "sheafline-sign keygen" prints
#
# Without a key the program still checks for updates but only says that a
# newer version exists; it never installs one.

find_package(PkgConfig REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET GLOBAL libsodium)

set(SHEAFLINE_UPDATE_PUBLIC_KEY "" CACHE STRING
    "Public key (base64 of 32 bytes) that update packages must be signed with; empty: updates are announced, never installed")
# 32 bytes in base64: 44 characters, the last but one carrying 4 bits, then "=".
string(LENGTH "${SHEAFLINE_UPDATE_PUBLIC_KEY}" _sheafline_key_length)
if(NOT SHEAFLINE_UPDATE_PUBLIC_KEY STREQUAL ""
   AND NOT (_sheafline_key_length EQUAL 44
            AND SHEAFLINE_UPDATE_PUBLIC_KEY MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$"))
    message(FATAL_ERROR "SHEAFLINE_UPDATE_PUBLIC_KEY is not a public key: expected the 44 characters that "
                        "\"sheafline-sign keygen\" prints, got \"${SHEAFLINE_UPDATE_PUBLIC_KEY}\"")
endif()
if(SHEAFLINE_UPDATE_PUBLIC_KEY STREQUAL "")
    message(STATUS "Updates: no public key (SHEAFLINE_UPDATE_PUBLIC_KEY); newer versions are announced, not installed")
else()
    message(STATUS "Updates: packages must be signed with ${SHEAFLINE_UPDATE_PUBLIC_KEY}")
endif()
