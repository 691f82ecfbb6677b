# ql_add_test(<name> <sources...> [XVFB] [DBUS] [UNITS] [LIBS <libs...>] [LABELS <labels...>]
#             [ARGS <arguments...>])
# Adds one Qt Test executable and registers it with CTest. Every test links the
# shared test support (temporary home, generated audio) and runs offscreen;
# with XVFB it runs on a real X server of its own (xvfb-run), as a user's
# window would. With DBUS it runs on a session bus of its own (dbus-run-session),
# so no other test's program answers on the bus it talks to. ARGS are passed to
# the test program (for example the test functions to run). With UNITS the
# sources are several test classes that register themselves
# (tests/support/TestUnits.h) and share one main.
function(ql_add_test name)
    cmake_parse_arguments(ARG "XVFB;DBUS;UNITS" "" "LIBS;LABELS;ARGS" ${ARGN})
    set(sources ${ARG_UNPARSED_ARGUMENTS})
    if(ARG_UNITS)
        list(APPEND sources ${PROJECT_SOURCE_DIR}/tests/support/UnitsMain.cpp)
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ql_test_support Qt6::Test ${ARG_LIBS})
    # QTRY_ waits without a bound of their own get one a busy machine holds.
    # Rows build a record from the fields they are about and leave the rest
    # at their defaults on purpose (a track's title and path, not its art).
    target_compile_options(${name} PRIVATE
        -include ${PROJECT_SOURCE_DIR}/tests/support/TryBounds.h
        -Wno-missing-field-initializers)
    if(ARG_XVFB)
        add_test(NAME ${name} COMMAND xvfb-run -a -s "-screen 0 1600x1000x24"
            $<TARGET_FILE:${name}> ${ARG_ARGS})
        set(platform xcb)
    elseif(ARG_DBUS)
        add_test(NAME ${name} COMMAND dbus-run-session -- $<TARGET_FILE:${name}> ${ARG_ARGS})
        set(platform offscreen)
    else()
        add_test(NAME ${name} COMMAND ${name} ${ARG_ARGS})
        set(platform offscreen)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=${platform};QL_BUILD_DIR=${CMAKE_BINARY_DIR}"
        TIMEOUT 300)
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
