# make uninstall: removes exactly the files the last `make install` from this tree installed,
# then the folders that held them once they are empty.
# In: TREE, the build tree that installed (its installed-files.txt and installed-root.txt).

cmake_minimum_required(VERSION 3.25)

set(list "${TREE}/installed-files.txt")
set(root_file "${TREE}/installed-root.txt")
if(NOT EXISTS "${list}" OR NOT EXISTS "${root_file}")
  message(STATUS "Nothing to uninstall: ${TREE} has installed nothing")
  return()
endif()
file(STRINGS "${list}" files)
file(STRINGS "${root_file}" roots)
# The prefix (DESTDIR included), "destdir:" and DESTDIR, then the shared folders to keep.
list(GET roots 0 prefix)
list(GET roots 1 destdir)
string(REGEX REPLACE "^destdir:" "" destdir "${destdir}")

# Stop at the staging root (DESTDIR) or the prefix, and keep the shared folders that were
# there before the install (listed after the first two lines).
set(top "${prefix}")
if(NOT destdir STREQUAL "")
  set(top "${destdir}")
endif()
set(keep "${roots}")
list(REMOVE_AT keep 0 1)
list(APPEND keep "${top}")

set(folders)
foreach(file IN LISTS files)
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing: ${file}")
    file(REMOVE "${file}")
  endif()
  get_filename_component(folder "${file}" DIRECTORY)
  list(APPEND folders "${folder}")
endforeach()

# Deepest first, walking up while folders are empty, never above the top.
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  while(IS_DIRECTORY "${folder}" AND NOT folder IN_LIST keep)
    string(FIND "${folder}/" "${top}/" at)
    if(NOT at EQUAL 0)
      break()
    endif()
    file(GLOB left "${folder}/*" "${folder}/.*")
    if(left)
      break()
    endif()
    file(REMOVE_RECURSE "${folder}")
    get_filename_component(folder "${folder}" DIRECTORY)
  endwhile()
endforeach()
file(REMOVE "${list}" "${root_file}")
message(STATUS "Uninstalled Lumenor from ${prefix}")
