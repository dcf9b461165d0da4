# The Effect Controls header image, generated at build time.
#
# Included by the root CMakeLists: builds the generator and sets UMBRAFEX_HEADER_IMAGE_SOURCES to
# the source it writes (the pixels declared in resources/HeaderImage.h). The generator also
# leaves the picture as resources/HeaderImage.png in the build folder.

add_executable(umbrafex_header_image_gen resources/HeaderImageGen.cpp)
target_include_directories(umbrafex_header_image_gen PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(umbrafex_header_image_gen PRIVATE PkgConfig::CAIRO)

set(UMBRAFEX_HEADER_IMAGE_SOURCES "${CMAKE_BINARY_DIR}/resources/HeaderImageData.cpp")
add_custom_command(OUTPUT "${UMBRAFEX_HEADER_IMAGE_SOURCES}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/resources"
  # fontconfig keeps its configuration for the life of the process; not a leak of ours.
  COMMAND "${CMAKE_COMMAND}" -E env "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp"
    $<TARGET_FILE:umbrafex_header_image_gen> "${UMBRAFEX_HEADER_IMAGE_SOURCES}"
    "${CMAKE_BINARY_DIR}/resources/HeaderImage.png"
  DEPENDS umbrafex_header_image_gen
  COMMENT "Generating the header image"
  VERBATIM)
