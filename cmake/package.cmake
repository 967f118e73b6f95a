# The release package of the Windows program: RebootScheduler-<version>-win32.zip (win64 for the
# x86_64 build) with the program and the capture program stripped, the debug symbols of each in
# <name>.exe.debug beside it (found through its .gnu_debuglink), and README.txt naming what the
# agent provides.
# Nothing else installs: the stand-ins and the test programs are not part of a release.
#   cmake --build --preset mingw-i686 --target package

# Debug information for the programs' own code, split off below; the shipped code is unchanged.
target_compile_options(rs_core PRIVATE -g)
target_compile_options(rs_win32 PRIVATE -g)
target_compile_options(RebootScheduler PRIVATE -g)
target_compile_options(rs_capture PRIVATE -g)
target_compile_options(RsCapture PRIVATE -g)

if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "objcopy of the toolchain not found; the package needs it")
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(RS_PACKAGE_PLATFORM win64)
else()
  set(RS_PACKAGE_PLATFORM win32)
endif()

set(ship ${CMAKE_BINARY_DIR}/ship)
set(RS_SHIPPED)
foreach(program RebootScheduler RsCapture)
  add_custom_command(
    OUTPUT ${ship}/${program}.exe ${ship}/${program}.exe.debug
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ship}
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${program}> ${ship}/${program}.exe.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${program}.exe.debug
            $<TARGET_FILE:${program}> ${ship}/${program}.exe
    WORKING_DIRECTORY ${ship}
    DEPENDS ${program}
    COMMENT "Splitting the debug symbols off ${program}.exe")
  list(APPEND RS_SHIPPED ${ship}/${program}.exe ${ship}/${program}.exe.debug)
  install(PROGRAMS ${ship}/${program}.exe DESTINATION .)
  install(FILES ${ship}/${program}.exe.debug DESTINATION .)
endforeach()
add_custom_target(rs_ship ALL DEPENDS ${RS_SHIPPED})

configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt.in ${ship}/README.txt @ONLY)

install(FILES ${ship}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME RebootScheduler)
set(CPACK_PACKAGE_VENDOR VERUZE)
set(CPACK_PACKAGE_FILE_NAME RebootScheduler-${PROJECT_VERSION}-${RS_PACKAGE_PLATFORM})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
