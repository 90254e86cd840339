# Unpacks the gathered machine trees (tests/data/machines/NAME.tar.bz2) into
# the build tree at configure time, so that the tests read them the same way
# natively, under Wine and under qemu-user. A tree is unpacked again when its
# archive or this file changes; a new archive re-runs CMake through the glob.
#
#   tavro_unpack_machine_trees(SOURCE_DIR DESTINATION_DIR)
#
# The archives are stored already cut down to what the topology reader and
# the tests' set-up read: the CPU and node folders of sysfs, the hybrid core
# types, procfs and the control-group mounts. To cut down a new tree before
# packing it (unpacked in DIR, whose top folder holds sys/ and proc/):
#
#   cmake -DTREE=DIR -P cmake/machine_trees.cmake

# A change to this file unpacks every tree again.
set(tavro_machine_trees_script ${CMAKE_CURRENT_LIST_FILE})

# Removes the entries of `dir` whose names do not match `keep`.
function(tavro_keep_entries dir keep)
  file(GLOB entries LIST_DIRECTORIES true ${dir}/*)
  foreach(entry IN LISTS entries)
    get_filename_component(name ${entry} NAME)
    if(NOT name MATCHES "${keep}")
      file(REMOVE_RECURSE ${entry})
    endif()
  endforeach()
endfunction()

function(tavro_prune_machine_tree tree)
  file(GLOB roots LIST_DIRECTORIES true ${tree}/*)
  foreach(root IN LISTS roots)
    if(NOT IS_DIRECTORY ${root}/sys)
      continue()
    endif()
    if(IS_DIRECTORY ${root}/proc)
      tavro_keep_entries(${root}/proc "^(cpuinfo|mounts|self)$")
    endif()
    tavro_keep_entries(${root}/sys "^(devices|fs)$")
    tavro_keep_entries(${root}/sys/devices "^(system|cpu_core|cpu_atom)$")
    tavro_keep_entries(${root}/sys/devices/system "^(cpu|node)$")
    # Newer kernels link cpuN/cpufreq to cpufreq/policyN.
    tavro_keep_entries(${root}/sys/devices/system/cpu
                       "^(online|possible|present|cpufreq|cpu[0-9]+)$")
    file(GLOB frequencies LIST_DIRECTORIES true ${root}/sys/devices/system/cpu/cpufreq/policy*
         ${root}/sys/devices/system/cpu/cpu*/cpufreq)
    foreach(frequency IN LISTS frequencies)
      if(IS_DIRECTORY ${frequency} AND NOT IS_SYMLINK ${frequency})
        tavro_keep_entries(${frequency} "^(cpuinfo_max_freq|base_frequency)$")
      endif()
    endforeach()
    file(GLOB cpus LIST_DIRECTORIES true ${root}/sys/devices/system/cpu/cpu*)
    list(FILTER cpus INCLUDE REGEX "/cpu[0-9]+$")
    foreach(cpu IN LISTS cpus)
      tavro_keep_entries(${cpu} "^(online|cpu_capacity|topology|cache|cpufreq|regs)$")
      file(GLOB caches LIST_DIRECTORIES true ${cpu}/cache/index*)
      foreach(cache IN LISTS caches)
        tavro_keep_entries(${cache} "^(level|type|shared_cpu_list|shared_cpu_map)$")
      endforeach()
    endforeach()
    file(GLOB nodes LIST_DIRECTORIES true ${root}/sys/devices/system/node/node*)
    foreach(node IN LISTS nodes)
      tavro_keep_entries(${node} "^(cpumap|cpulist)$")
    endforeach()
  endforeach()
endfunction()

function(tavro_unpack_machine_trees source_dir destination_dir)
  file(GLOB archives CONFIGURE_DEPENDS ${source_dir}/*.tar.bz2)
  foreach(archive IN LISTS archives)
    get_filename_component(name ${archive} NAME)
    string(REGEX REPLACE "\\.tar\\.bz2$" "" name ${name})
    set(tree ${destination_dir}/${name})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${archive})
    if(EXISTS ${tree}.stamp AND NOT ${archive} IS_NEWER_THAN ${tree}.stamp
       AND NOT ${tavro_machine_trees_script} IS_NEWER_THAN ${tree}.stamp)
      continue()
    endif()
    file(REMOVE_RECURSE ${tree})
    file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${tree})
    file(TOUCH ${tree}.stamp)
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED TREE)
  tavro_prune_machine_tree(${TREE})
endif()
