# Shared body of the message packages below: generates the C and C++ message types and the
# introspection type supports of every msg/*.msg file with Debian's rosidl tooling.
macro(interface_package)
  cmake_parse_arguments(_ip "" "" "DEPENDENCIES" ${ARGN})
  if(NOT CMAKE_CXX_STANDARD)
    set(CMAKE_CXX_STANDARD 17)
  endif()
  find_package(ament_cmake REQUIRED)
  find_package(rosidl_cmake REQUIRED)
  find_package(rosidl_generator_c REQUIRED)
  find_package(rosidl_generator_cpp REQUIRED)
  find_package(rosidl_typesupport_introspection_c REQUIRED)
  find_package(rosidl_typesupport_introspection_cpp REQUIRED)
  foreach(_dep IN LISTS _ip_DEPENDENCIES)
    find_package(${_dep} REQUIRED)
  endforeach()
  file(GLOB _ip_msgs RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/msg/*.msg")
  list(SORT _ip_msgs)
  if(_ip_DEPENDENCIES)
    rosidl_generate_interfaces(${PROJECT_NAME} ${_ip_msgs} DEPENDENCIES ${_ip_DEPENDENCIES})
  else()
    rosidl_generate_interfaces(${PROJECT_NAME} ${_ip_msgs})
  endif()
  # Consumers need the runtime and type support targets the generated libraries link.
  ament_export_dependencies(rosidl_runtime_c rosidl_runtime_cpp rosidl_typesupport_introspection_c
                            rosidl_typesupport_introspection_cpp ${_ip_DEPENDENCIES})
  ament_package()
endmacro()
