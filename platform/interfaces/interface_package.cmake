# Shared body of the message packages below: generates the C and C++ message and service types
# and their type supports for every msg/*.msg and srv/*.srv file.
#
# On a ROS 2 installation rosidl_default_generators brings every type support the middleware
# needs (the typesupport dispatch libraries included); Debian's rosidl tooling has only the
# C/C++ generators and the introspection type supports, which is what the tree's own ROS 2
# layer uses.
macro(interface_package)
  cmake_parse_arguments(_ip "" "" "DEPENDENCIES" ${ARGN})
  if(NOT CMAKE_CXX_STANDARD)
    set(CMAKE_CXX_STANDARD 17)
  endif()
  find_package(ament_cmake REQUIRED)
  find_package(rosidl_default_generators QUIET)
  if(NOT rosidl_default_generators_FOUND)
    find_package(rosidl_cmake REQUIRED)
    find_package(rosidl_generator_c REQUIRED)
    find_package(rosidl_generator_cpp REQUIRED)
    find_package(rosidl_typesupport_introspection_c REQUIRED)
    find_package(rosidl_typesupport_introspection_cpp REQUIRED)
  endif()
  foreach(_dep IN LISTS _ip_DEPENDENCIES)
    find_package(${_dep} REQUIRED)
  endforeach()
  file(GLOB _ip_msgs RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/msg/*.msg" "${CMAKE_CURRENT_SOURCE_DIR}/srv/*.srv")
  list(SORT _ip_msgs)
  if(_ip_DEPENDENCIES)
    rosidl_generate_interfaces(${PROJECT_NAME} ${_ip_msgs} DEPENDENCIES ${_ip_DEPENDENCIES})
  else()
    rosidl_generate_interfaces(${PROJECT_NAME} ${_ip_msgs})
  endif()
  # Consumers need the runtime and type support targets the generated libraries link.
  if(rosidl_default_generators_FOUND)
    ament_export_dependencies(rosidl_default_runtime ${_ip_DEPENDENCIES})
  else()
    ament_export_dependencies(rosidl_runtime_c rosidl_runtime_cpp
                              rosidl_typesupport_introspection_c
                              rosidl_typesupport_introspection_cpp ${_ip_DEPENDENCIES})
  endif()
  ament_package()
endmacro()
