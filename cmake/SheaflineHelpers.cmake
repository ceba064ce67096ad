# sheafline_add_test(<name> SOURCES <files...> [XVFB] [TIMEOUT <s>] [LIBS <libs...>])
#
# One test executable per test file (Qt Test), linked against the UI library
# (and so the core).  Every test runs headless with its own XDG folders under
# the build tree, so a test run never touches the user's real settings.
# XVFB: run under xvfb-run for tests that need a real X window.
function(sheafline_add_test name)
    cmake_parse_arguments(T "XVFB" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE sheafline_ui sheafline_testsupport Qt6::Test ${T_LIBS})
    set(home ${CMAKE_BINARY_DIR}/testhome/${name})
    file(MAKE_DIRECTORY ${home}/config ${home}/cache ${home}/data)
    if(T_XVFB)
        add_test(NAME ${name} COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:${name}>)
        set(platform "QT_QPA_PLATFORM=xcb")
    else()
        add_test(NAME ${name} COMMAND ${name})
        set(platform "QT_QPA_PLATFORM=offscreen")
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "${platform};XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;XDG_DATA_HOME=${home}/data;SHEAFLINE_CORPUS=${SHEAFLINE_CORPUS_DIR};QTEST_FUNCTION_TIMEOUT=600000")
endfunction()
