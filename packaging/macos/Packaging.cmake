# The agent as macOS wants it: its information property list embedded in the
# binary (the texts of the microphone and screen-recording prompts come from
# there) and a code signature with the entitlements beside this file, made
# after every link. Ad hoc unless MIREVO_CODESIGN_IDENTITY names an identity.
set(MIREVO_CODESIGN_IDENTITY "-" CACHE STRING
    "The identity the agent is signed with on macOS; - signs ad hoc")

function(mirevo_package_for_macos target)
  set(folder ${PROJECT_SOURCE_DIR}/packaging/macos)
  target_link_options(${target} PRIVATE
    "LINKER:-sectcreate,__TEXT,__info_plist,${folder}/Info.plist")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${folder}/Info.plist)
  find_program(MIREVO_CODESIGN codesign REQUIRED)
  # The hardened runtime: library validation, and no exceptions to it.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${MIREVO_CODESIGN} --force --sign ${MIREVO_CODESIGN_IDENTITY} --options runtime
            --entitlements ${folder}/mirevo-capture.entitlements $<TARGET_FILE:${target}>
    COMMENT "Signing ${target} (identity ${MIREVO_CODESIGN_IDENTITY})"
    VERBATIM)
endfunction()
