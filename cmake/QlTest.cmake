# ql_add_test(<name> <sources...> [LIBS <libs...>] [LABELS <labels...>])
# Adds one Qt Test executable and registers it with CTest. Every test links the
# shared test support (temporary home, generated audio) and runs offscreen.
function(ql_add_test name)
    cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ql_test_support Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QL_BUILD_DIR=${CMAKE_BINARY_DIR}"
        TIMEOUT 300)
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
