# The built-in blue-noise data, generated at build time.
#
# Included by the root CMakeLists: builds the generator and sets UMBRAFEX_BLUE_NOISE_SOURCES to
# the source it writes (the image and the points declared in resources/BlueNoise.h).

add_executable(umbrafex_blue_noise_gen resources/BlueNoiseGen.cpp)
target_include_directories(umbrafex_blue_noise_gen PRIVATE ${CMAKE_SOURCE_DIR})

set(UMBRAFEX_BLUE_NOISE_SOURCES "${CMAKE_BINARY_DIR}/resources/BlueNoiseData.cpp")
add_custom_command(OUTPUT "${UMBRAFEX_BLUE_NOISE_SOURCES}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/resources"
  COMMAND umbrafex_blue_noise_gen "${UMBRAFEX_BLUE_NOISE_SOURCES}"
  DEPENDS umbrafex_blue_noise_gen
  COMMENT "Generating the blue-noise tables"
  VERBATIM)
