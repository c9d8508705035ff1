# Loopback stand-ins for the cloud services, shared with the backup tests and the Windows build.
add_library(kestrel_cloud_fakes STATIC
  ${CMAKE_CURRENT_LIST_DIR}/loopback-http-server.cpp ${CMAKE_CURRENT_LIST_DIR}/stored-bytes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fake-google-drive.cpp ${CMAKE_CURRENT_LIST_DIR}/fake-onedrive.cpp)
target_include_directories(kestrel_cloud_fakes PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(kestrel_cloud_fakes PUBLIC kestrel_providers)
