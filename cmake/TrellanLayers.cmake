# One library per folder of src/. Sources are picked up by glob so that adding a
# file needs no CMake edit; the link list is the only way a layer reaches another.
# PCH names the precompiled header set (core or widgets) of cmake/pch/.
function(trellan_layer name)
    cmake_parse_arguments(L "" "PCH" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp
        ${PROJECT_SOURCE_DIR}/src/${name}/*.h)
    set(target trellan_${name})
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    if(sources)
        file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.h)
        # The fuzz build compiles a layer only when a fuzz target links it.
        if(TRELLAN_FUZZ)
            add_library(${target} STATIC EXCLUDE_FROM_ALL ${sources} ${headers})
        else()
            add_library(${target} STATIC ${sources} ${headers})
        endif()
        target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${target} PUBLIC ${L_LIBS})
        # The first layer of a header set precompiles it; the later layers of the
        # set reuse that one, compiled with the same definitions as theirs. A
        # precompiled header takes some two hundred megabytes of disk.
        if(L_PCH)
            get_property(owner GLOBAL PROPERTY TRELLAN_PCH_OWNER_${L_PCH})
            if(owner)
                target_precompile_headers(${target} REUSE_FROM ${owner})
            else()
                target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/pch/${L_PCH}.h)
                set_property(GLOBAL PROPERTY TRELLAN_PCH_OWNER_${L_PCH} ${target})
            endif()
        endif()
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${target} INTERFACE ${L_LIBS})
    endif()
endfunction()

# The test files that open an SSH tunnel through the run's sshd. A tunnel
# listens on local port 48756 first, machine-wide, and some of these tests hold
# that port themselves to see a tunnel take another: they run one at a time.
# Named, not matched by a pattern, which missed ConnectionAtExitTest; a file
# that reaches the sshd but is missing here stops the configuration.
set(TRELLAN_TUNNEL_TESTS
    ConnectionAtExitTest ConnectionSSHTest SSHForwardingTest SSHTunnelTest
    ConnectFavoriteSSHTest LinkConsentTest)

# The test files that stand in for the desktop's notification service own its
# one name on the run's session bus: one at a time. Named as the tunnel tests are.
set(TRELLAN_NOTIFICATION_SERVICE_TESTS QueryNotificationTest TerminalNotificationTest)

# Every tests/<layer>/*.cpp is its own executable, so that ctest can run them in
# parallel and a crash takes down one file only.
function(trellan_layer_tests layer)
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${layer}/*.cpp)
    foreach(src ${tests})
        get_filename_component(base ${src} NAME_WE)
        set(exe test_${layer}_${base})
        add_executable(${exe} ${src})
        target_link_libraries(${exe} PRIVATE trellan_${layer} trellan_test_support)
        target_precompile_headers(${exe} REUSE_FROM trellan_test_support)
        set(locks "")
        file(READ ${src} text)
        if(base IN_LIST TRELLAN_TUNNEL_TESTS)
            set(locks RESOURCE_LOCK tunnel_local_port)
        elseif(text MATCHES "TRELLAN_SSH_|SSHTestSupport\\.h")
            message(FATAL_ERROR "${src} reaches the test sshd: add ${base} to TRELLAN_TUNNEL_TESTS")
        endif()
        if(base IN_LIST TRELLAN_NOTIFICATION_SERVICE_TESTS)
            set(locks RESOURCE_LOCK desktop_notification_service)
        elseif(text MATCHES "registerService\\(DesktopNotifier::ServiceName")
            message(FATAL_ERROR "${src} owns the notification service's name: add ${base} to "
                                "TRELLAN_NOTIFICATION_SERVICE_TESTS")
        endif()
        gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ${locks})
    endforeach()
endfunction()
