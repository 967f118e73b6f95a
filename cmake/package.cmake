# The release package of the Windows program: RebootScheduler-<version>-win32.zip (win64 for the
# x86_64 build) with the program stripped, its debug symbols in RebootScheduler.exe.debug beside
# it (found through the program's .gnu_debuglink), and README.txt naming what the agent provides.
# Nothing else installs: the stand-ins and the test programs are not part of a release.
#   cmake --build --preset mingw-i686 --target package

# Debug information for the program's own code, split off below; the shipped code is unchanged.
target_compile_options(rs_core PRIVATE -g)
target_compile_options(rs_win32 PRIVATE -g)
target_compile_options(RebootScheduler PRIVATE -g)

if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "objcopy of the toolchain not found; the package needs it")
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(RS_PACKAGE_PLATFORM win64)
else()
  set(RS_PACKAGE_PLATFORM win32)
endif()

set(ship ${CMAKE_BINARY_DIR}/ship)
add_custom_command(
  OUTPUT ${ship}/RebootScheduler.exe ${ship}/RebootScheduler.exe.debug
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ship}
  COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:RebootScheduler>
          ${ship}/RebootScheduler.exe.debug
  COMMAND ${CMAKE_OBJCOPY} --strip-all
          --add-gnu-debuglink=RebootScheduler.exe.debug $<TARGET_FILE:RebootScheduler>
          ${ship}/RebootScheduler.exe
  WORKING_DIRECTORY ${ship}
  DEPENDS RebootScheduler
  COMMENT "Splitting the debug symbols off RebootScheduler.exe")
add_custom_target(rs_ship ALL DEPENDS ${ship}/RebootScheduler.exe ${ship}/RebootScheduler.exe.debug)

configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt.in ${ship}/README.txt @ONLY)

install(PROGRAMS ${ship}/RebootScheduler.exe DESTINATION .)
install(FILES ${ship}/RebootScheduler.exe.debug ${ship}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME RebootScheduler)
set(CPACK_PACKAGE_VENDOR VERUZE)
set(CPACK_PACKAGE_FILE_NAME RebootScheduler-${PROJECT_VERSION}-${RS_PACKAGE_PLATFORM})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
