# The Windows cross build holds the engine side only (platform, storage back-ends, backup engine,
# command line): no OBS, Qt or FFmpeg for mingw exists here.
find_package(Threads REQUIRED)

# nlohmann/json is header-only. The host's copy is reached through a folder that holds nothing
# else, so no other host header can shadow a Windows one.
set(_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_host_headers})
file(CREATE_LINK /usr/include/nlohmann ${_host_headers}/nlohmann SYMBOLIC)
add_library(kestrel_json INTERFACE)
target_include_directories(kestrel_json SYSTEM INTERFACE ${_host_headers})
add_library(nlohmann_json::nlohmann_json ALIAS kestrel_json)

# libcurl for Windows, built once from Debian's source by scripts/lib/mingw-curl.sh.
set(KESTREL_MINGW_CURL "" CACHE PATH "libcurl for mingw-w64 (the folder scripts/lib/mingw-curl.sh prints)")
find_package(CURL CONFIG REQUIRED PATHS ${KESTREL_MINGW_CURL} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
