# The shader paste step's brace check, run with -P: SHADERS_CMAKE is the step, WORK a scratch folder.
# Each case pastes a .glsl into a shader that would close what the file leaves open.
function(paste_case name glsl expect_whole)
  file(WRITE "${WORK}/${name}.glsl" "${glsl}")
  file(WRITE "${WORK}/${name}.fs" "#include \"${name}.glsl\"\n}\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DEXPAND_IN=${WORK}/${name}.fs" "-DEXPAND_OUT=${WORK}/${name}.out"
                          -P "${SHADERS_CMAKE}"
                  RESULT_VARIABLE result ERROR_VARIABLE error)
  string(REGEX REPLACE "[ \n]+" " " error "${error}")  # CMake wraps its messages
  if(expect_whole AND NOT result EQUAL 0)
    message(SEND_ERROR "${name}: refused a whole file: ${error}")
  elseif(NOT expect_whole AND (result EQUAL 0 OR NOT error MATCHES "a pasted file must be whole"))
    message(SEND_ERROR "${name}: a broken file passed (${result}): ${error}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# Left open behind a comment that holds its closing brace.
paste_case(LineComment "float F() {\n    return 1.0;  // }\n" FALSE)
paste_case(BlockComment "float F() {\n    /* } */ return 1.0;\n" FALSE)
# As many of each, but one closes before anything opened.
paste_case(ClosedFirst "}\nfloat F() {\n" FALSE)
# Braces in comments of a whole file, a block comment's // and a line comment's /* included.
paste_case(Whole "// {{ /*\nfloat F() { return 1.0; }  /* } // */\nvoid G() {}\n" TRUE)
