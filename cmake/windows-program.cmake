# The Windows program: one static console exe for Windows 6.0 and later, with
# its manifest and version information compiled in as resources.
enable_language(RC)

add_executable(lystrel
  src/main.cpp
  src/windows/lystrel.rc)
target_link_libraries(lystrel PRIVATE lystrel_system iphlpapi ws2_32 advapi32)

# The resource script names the manifest; rebuild the resources when it changes.
set_source_files_properties(src/windows/lystrel.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/windows/lystrel.manifest)

# Static: the exe imports only system DLLs, never libstdc++ or libgcc ones.
# Console subsystem and OS version 6.0.
target_link_options(lystrel PRIVATE
  -static
  -static-libgcc
  -static-libstdc++
  -Wl,--subsystem,console:6.0
  -Wl,--major-os-version,6,--minor-os-version,0)
