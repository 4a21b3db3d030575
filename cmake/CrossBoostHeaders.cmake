# Boost::headers for a cross build: a folder of the build whose one entry,
# boost, links to the build machine's Boost headers.
set(KELVO_BOOST_HEADERS /usr/include/boost CACHE PATH "Boost headers for the cross compiler")
set(kelvoBoostVersionFile ${KELVO_BOOST_HEADERS}/version.hpp)
if(NOT EXISTS ${kelvoBoostVersionFile})
  message(FATAL_ERROR "No Boost headers in ${KELVO_BOOST_HEADERS} (Debian: libboost-dev)")
endif()
file(STRINGS ${kelvoBoostVersionFile} kelvoBoostVersion REGEX "^#define BOOST_VERSION [0-9]+")
string(REGEX REPLACE "^#define BOOST_VERSION ([0-9]+).*" "\\1" kelvoBoostVersion "${kelvoBoostVersion}")
if(kelvoBoostVersion LESS 107400)
  message(FATAL_ERROR "Boost ${kelvoBoostVersion} in ${KELVO_BOOST_HEADERS} is older than 1.74")
endif()

set(kelvoBoostInclude ${PROJECT_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${kelvoBoostInclude})
file(CREATE_LINK ${KELVO_BOOST_HEADERS} ${kelvoBoostInclude}/boost SYMBOLIC)

add_library(Boost::headers INTERFACE IMPORTED)
set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kelvoBoostInclude})
