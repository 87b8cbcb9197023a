# quorvane_add_test(<name> SOURCES ... [LIBS ...] [GUI] [ENV VAR=value ...])
#
# One Qt Test executable per area, registered with CTest. GUI tests run on
# the offscreen platform so that no display is needed; ENV pins whatever a
# test depends on (time zone, language).
function(quorvane_add_test name)
    cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE quorvane_options Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set(env ${ARG_ENV})
    if(QUORVANE_TSAN)
        list(APPEND env "TSAN_OPTIONS=halt_on_error=1 suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
    endif()
    if(ARG_GUI)
        list(APPEND env QT_QPA_PLATFORM=offscreen)
    endif()
    if(env)
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
    endif()
endfunction()
