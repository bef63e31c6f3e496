# Warnings are errors in the project's own code. Toolkit headers (DCMTK, Qt,
# pugixml) come in as system headers through their imported targets, so their
# warnings stay out of the way.
add_compile_options(-Wall -Wextra -Werror)

# DCMTK's exported targets put its include folder on the plain include path;
# make it a system include for every target that links it.
function(lumo_system_includes target)
  foreach(dep IN LISTS ARGN)
    if(TARGET ${dep})
      get_target_property(dirs ${dep} INTERFACE_INCLUDE_DIRECTORIES)
      if(dirs)
        target_include_directories(${target} SYSTEM PRIVATE ${dirs})
      endif()
    endif()
  endforeach()
endfunction()
