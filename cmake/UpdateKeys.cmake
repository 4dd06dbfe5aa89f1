# Keys trusted to sign update packages, built into the programs.
#
# zandro-updater trusts exactly ZANDRO_UPDATE_PUBLIC_KEYS. Without any, packages would go
# unverified, so configuration stops unless ZANDRO_ALLOW_UNSIGNED asks for such a build (tests
# and demos, which use zandro-updater-test for signed passes). With UPDATER_TEST_KEYS,
# configuration also makes throwaway key pairs in the build folder (never in the source tree) and
# builds zandro-updater-test, which trusts two of them; the third is a key no program trusts, for
# refusal tests. Each program gets its keys from one small object library defining
# builtInUpdateKeys(), so the updater code cannot pick up a key by any other route.

set(ZANDRO_UPDATE_PUBLIC_KEYS "" CACHE STRING
    "minisign public keys (each the base64 line of a .pub file) trusted for update packages; \
a list, so that a new key can ship before the old one is retired")

if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.16)
endif()

# Fails configuration unless every entry is a minisign public key string: base64 of 42 bytes
# beginning with "Ed", which always reads RW, then Q to T, then 53 more characters.
function(updater_validate_public_keys)
    set(seen "")
    foreach(key IN LISTS ARGN)
        if(NOT key MATCHES "^RW[QRST][A-Za-z0-9+/]+$")
            message(FATAL_ERROR "ZANDRO_UPDATE_PUBLIC_KEYS: \"${key}\" is not a minisign public "
                "key (the second line of a .pub file, 56 characters starting with RW)")
        endif()
        string(LENGTH "${key}" length)
        if(NOT length EQUAL 56)
            message(FATAL_ERROR "ZANDRO_UPDATE_PUBLIC_KEYS: \"${key}\" has ${length} characters, "
                "a minisign public key has 56")
        endif()
        # The key id lies within characters 2 to 13: this catches a key listed twice, and the
        # updater itself reports any other clash of key ids.
        string(SUBSTRING "${key}" 2 12 id)
        if(id IN_LIST seen)
            message(FATAL_ERROR "ZANDRO_UPDATE_PUBLIC_KEYS: \"${key}\" has the key id of an "
                "earlier key; the key id in a signature must pick exactly one key")
        endif()
        list(APPEND seen "${id}")
    endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    # cmake -DKEYS=key,key... -P UpdateKeys.cmake: the check alone, for the tests.
    string(REPLACE "," ";" keys "${KEYS}")
    updater_validate_public_keys(${keys})
    return()
endif()

if(NOT ZANDRO_UPDATE_PUBLIC_KEYS AND NOT ZANDRO_ALLOW_UNSIGNED)
    message(FATAL_ERROR "No signing keys: this zandro-updater would install unsigned packages "
        "that anybody on the way can swap. Add your public key with\n"
        "  -DZANDRO_UPDATE_PUBLIC_KEYS=\"<second line of your minisign .pub file>\"\n"
        "(several keys separated by ;), or configure with -DZANDRO_ALLOW_UNSIGNED=ON, which "
        "builds an updater that installs unsigned packages (for tests and demos only).")
endif()

# An object library named target whose builtInUpdateKeys() returns the given keys.
function(updater_key_library target)
    updater_validate_public_keys(${ARGN})
    set(UPDATE_KEYS_INITIALISER "")
    foreach(key IN LISTS ARGN)
        string(APPEND UPDATE_KEYS_INITIALISER "\n        QStringLiteral(\"${key}\"),")
    endforeach()
    set(source ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
    configure_file(${PROJECT_SOURCE_DIR}/updater/src/updatekeys.cpp.in ${source} @ONLY)
    add_library(${target} OBJECT ${source})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/updater/src)
    target_link_libraries(${target} PRIVATE Qt5::Core updater_warnings)
endfunction()

updater_key_library(updaterkeys ${ZANDRO_UPDATE_PUBLIC_KEYS})
# No key at all: the unit tests of the download run check the unsigned path whatever keys a
# build is configured with; the signed path runs end to end with zandro-updater-test.
updater_key_library(updaterkeys-none)

option(UPDATER_TEST_KEYS
    "Make throwaway signing keys in the build folder and build zandro-updater-test, which \
trusts them (needs minisign)" ON)
if(UPDATER_BUILD_TESTS AND NOT UPDATER_TEST_KEYS)
    message(FATAL_ERROR "the tests need UPDATER_TEST_KEYS=ON")
endif()

if(UPDATER_TEST_KEYS)
    find_program(MINISIGN minisign)
    if(NOT MINISIGN)
        message(FATAL_ERROR "minisign is needed to make the test keys: install it "
            "(tools/setup-deps.sh does) or configure with -DUPDATER_TEST_KEYS=OFF "
            "-DUPDATER_BUILD_TESTS=OFF")
    endif()
    # trusted1 and trusted2 are built into zandro-updater-test; untrusted is built in nowhere.
    # The pairs are kept across configurations so that signed test files stay valid.
    set(UPDATER_TEST_KEY_DIR ${CMAKE_BINARY_DIR}/test-keys)
    file(MAKE_DIRECTORY ${UPDATER_TEST_KEY_DIR})
    set(test_keys "")
    foreach(name trusted1 trusted2 untrusted)
        set(pub ${UPDATER_TEST_KEY_DIR}/${name}.pub)
        set(sec ${UPDATER_TEST_KEY_DIR}/${name}.key)
        if(NOT EXISTS ${pub} OR NOT EXISTS ${sec})
            execute_process(COMMAND ${MINISIGN} -G -f -W -p ${pub} -s ${sec}
                INPUT_FILE /dev/null RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
            if(NOT result EQUAL 0)
                message(FATAL_ERROR "minisign could not make the test key ${name}: ${error}")
            endif()
        endif()
        file(STRINGS ${pub} lines)
        list(GET lines 1 key)
        set(UPDATER_TEST_KEY_${name} ${key})
        if(NOT name STREQUAL "untrusted")
            list(APPEND test_keys ${key})
        endif()
    endforeach()
    updater_key_library(updaterkeys-test ${test_keys})

    add_executable(zandro-updater-test ${PROJECT_SOURCE_DIR}/updater/src/main.cpp)
    target_link_libraries(zandro-updater-test PRIVATE updatercore updaterkeys-test updater_warnings)
endif()
