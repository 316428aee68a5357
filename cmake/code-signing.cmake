# Authenticode signing of the 64-bit Windows images (the program, qvcli and
# the driver): 64-bit Windows loads only signed kernel drivers.
#   quorvenal_sign_image(TARGET)   signs the target's file after its link
# The signature is made with osslsigncode (SHA-256), after the release form
# and the checksum (cmake/release-image.cmake); osslsigncode writes the
# checksum again over the signed file.
#
# Whose certificate:
#  - QUORVENAL_SIGNING_CERT and QUORVENAL_SIGNING_KEY (PEM files; the
#    certificate file may hold its chain): a user's own code-signing
#    certificate. QUORVENAL_SIGNING_PASSWORD_FILE names a file holding the
#    key's password, if it has one.
#  - Neither given: a test certificate that this build folder makes once with
#    openssl, valid for code signing only. Its private key stays in
#    test-signing/ of the build folder (readable by its owner alone); the
#    public certificate is placed beside the images as
#    quorvenal-test-signing.cer, for a test machine to trust.
# Either way the certificate that signs is copied to signing-certificate.pem
# beside the images: the checker verifies each signature against it.
find_program(QUORVENAL_OSSLSIGNCODE osslsigncode)
find_program(QUORVENAL_OPENSSL openssl)
set(QUORVENAL_SIGNING_CERT "" CACHE FILEPATH "PEM code-signing certificate (and chain) for the 64-bit images")
set(QUORVENAL_SIGNING_KEY "" CACHE FILEPATH "PEM private key of QUORVENAL_SIGNING_CERT")
set(QUORVENAL_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of QUORVENAL_SIGNING_KEY")

if(NOT QUORVENAL_OSSLSIGNCODE)
  message(FATAL_ERROR "osslsigncode is needed to sign the 64-bit images (tools/install-deps.sh installs it)")
endif()

set(QUORVENAL_SIGNING_PEM ${CMAKE_BINARY_DIR}/signing-certificate.pem)
if(QUORVENAL_SIGNING_CERT OR QUORVENAL_SIGNING_KEY)
  if(NOT EXISTS "${QUORVENAL_SIGNING_CERT}" OR NOT EXISTS "${QUORVENAL_SIGNING_KEY}")
    message(FATAL_ERROR "QUORVENAL_SIGNING_CERT and QUORVENAL_SIGNING_KEY must both name existing files")
  endif()
  set(signing_cert ${QUORVENAL_SIGNING_CERT})
  set(signing_key ${QUORVENAL_SIGNING_KEY})
  file(REMOVE ${CMAKE_BINARY_DIR}/quorvenal-test-signing.cer)
else()
  if(NOT QUORVENAL_OPENSSL)
    message(FATAL_ERROR "openssl is needed to make the test certificate (tools/install-deps.sh installs it)")
  endif()
  set(test_dir ${CMAKE_BINARY_DIR}/test-signing)
  set(signing_cert ${test_dir}/quorvenal-test-signing.pem)
  set(signing_key ${test_dir}/quorvenal-test-signing.key)
  if(NOT EXISTS ${signing_cert} OR NOT EXISTS ${signing_key})
    file(MAKE_DIRECTORY ${test_dir})
    file(CHMOD ${test_dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    execute_process(
      COMMAND ${QUORVENAL_OPENSSL} req -x509 -newkey rsa:3072 -nodes -sha256 -days 3650
              -subj "/CN=quorvenal test signing (not for release)"
              -addext "keyUsage=critical,digitalSignature"
              -addext "extendedKeyUsage=codeSigning"
              -keyout ${signing_key} -out ${signing_cert}
      RESULT_VARIABLE made OUTPUT_QUIET ERROR_VARIABLE why)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "openssl could not make the test certificate: ${why}")
    endif()
    file(CHMOD ${signing_key} PERMISSIONS OWNER_READ OWNER_WRITE)
    message(STATUS "Made a test certificate for signing: ${signing_cert}")
  endif()
  execute_process(COMMAND ${QUORVENAL_OPENSSL} x509 -in ${signing_cert} -outform DER
                          -out ${CMAKE_BINARY_DIR}/quorvenal-test-signing.cer)
endif()
configure_file(${signing_cert} ${QUORVENAL_SIGNING_PEM} COPYONLY)

set(QUORVENAL_SIGN_ARGUMENTS -certs ${signing_cert} -key ${signing_key})
if(QUORVENAL_SIGNING_PASSWORD_FILE)
  list(APPEND QUORVENAL_SIGN_ARGUMENTS -readpass ${QUORVENAL_SIGNING_PASSWORD_FILE})
endif()

function(quorvenal_sign_image target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${QUORVENAL_OSSLSIGNCODE} sign ${QUORVENAL_SIGN_ARGUMENTS} -h sha256 -n quorvenal
            -in $<TARGET_FILE_NAME:${target}> -out $<TARGET_FILE_NAME:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE_NAME:${target}>.signed $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
