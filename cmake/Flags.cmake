# Compiler and linker settings for our own targets (not for third-party code such as GoogleTest).

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

option(TESSARIN_SANITIZE "Build native code with AddressSanitizer and UBSan" ON)

# Warnings as errors and the hardening every build gets.
function(tessarin_target_flags target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -fstack-protector-strong)
    # _FORTIFY_SOURCE needs the optimiser; debug builds go without it.
    target_compile_definitions(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    if(WIN32)
        target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
                                                     _WIN32_WINNT=0x0601 WINVER=0x0601)
    elseif(TESSARIN_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

# A Windows executable that carries the C and C++ runtimes inside, so that it imports only
# system DLLs, with ASLR and DEP switched on.
function(tessarin_windows_program target)
    target_link_options(${target} PRIVATE -municode -static -static-libgcc -static-libstdc++
                        -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
    # Stack protection and fortified string functions come from libssp.
    target_link_libraries(${target} PRIVATE ssp)
endfunction()

# The skin images go into "Skin" beside the executable, where the program looks for them.
function(tessarin_copy_skin target)
    file(GLOB skin_images CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/skin/*.png)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/Skin
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${skin_images} $<TARGET_FILE_DIR:${target}>/Skin
        VERBATIM)
endfunction()
