# The Windows program; filled in with the resources and link flags of the product.
add_executable(lystrel src/main.cpp)
target_link_libraries(lystrel PRIVATE lystrel_system iphlpapi ws2_32 advapi32)
