# What the Linux packages and `cmake --install` hold: the program, the
# companion tools, the manual pages (tavro's made from the README, each
# tool's from its --help), the bash completion, and the documents as Debian
# keeps them (gzipped, beside the machine-readable copyright file).
#
# Sets TAVRO_MANPAGE_DIR, where the pages are made (empty without Python),
# and TAVRO_TOOL_NAMES, the installed names of the tools, for the tests.

find_program(TAVRO_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(TAVRO_GZIP gzip REQUIRED)
set(tavro_made ${PROJECT_BINARY_DIR}/packaging)
set(tavro_changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(tavro_copyright ${PROJECT_SOURCE_DIR}/packaging/copyright)
set(tavro_make_manpage ${PROJECT_SOURCE_DIR}/packaging/make_manpage.py)
set(tavro_made_files)
file(MAKE_DIRECTORY ${tavro_made}/man ${tavro_made}/bin)

# OUTPUT, gzipped from SOURCE; -n leaves the name and the date out of the
# header, so that the same text always gives the same bytes.
macro(tavro_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${TAVRO_GZIP} ${source} ${output}
                     DEPENDS ${source} VERBATIM)
  list(APPEND tavro_made_files ${output})
endmacro()

set(TAVRO_TOOL_NAMES)
foreach(entry IN LISTS TAVRO_TOOLS)
  separate_arguments(entry)
  list(GET entry 0 name)
  list(APPEND TAVRO_TOOL_NAMES ${name})
endforeach()

set(TAVRO_MANPAGE_DIR)
if(TAVRO_PYTHON3)
  set(TAVRO_MANPAGE_DIR ${tavro_made}/man)
  add_custom_command(OUTPUT ${TAVRO_MANPAGE_DIR}/tavro.1
                     COMMAND ${TAVRO_PYTHON3} ${tavro_make_manpage} readme
                             ${TAVRO_MANPAGE_DIR}/tavro.1 ${PROJECT_SOURCE_DIR}/README.md
                             ${tavro_changelog} ${PROJECT_VERSION} ${TAVRO_SUMMARY}
                             ${TAVRO_TOOL_NAMES}
                     DEPENDS ${tavro_make_manpage} ${PROJECT_SOURCE_DIR}/README.md
                             ${tavro_changelog}
                     VERBATIM)
  tavro_gzip(${TAVRO_MANPAGE_DIR}/tavro.1 ${TAVRO_MANPAGE_DIR}/tavro.1.gz)
  install(FILES ${TAVRO_MANPAGE_DIR}/tavro.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tavro)
else()
  message(WARNING "No /usr/bin/python3: the manual pages are left out of the install "
                  "and the packages (apt-get install python3)")
endif()

install(TARGETS tavro RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tavro)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tavro.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tavro
        COMPONENT tavro)
tavro_gzip(${PROJECT_SOURCE_DIR}/README.md ${tavro_made}/README.md.gz)
tavro_gzip(${tavro_changelog} ${tavro_made}/changelog.gz)
install(FILES ${tavro_made}/README.md.gz ${tavro_made}/changelog.gz ${tavro_copyright}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavro COMPONENT tavro)

# The tools: scripts and modules in share/tavro, a relative link in bin, so
# that a tool finds its modules beside its real location wherever the tree
# is unpacked.
set(tavro_tool_dir ${CMAKE_INSTALL_DATADIR}/tavro)
foreach(entry IN LISTS TAVRO_TOOLS)
  separate_arguments(entry)
  list(GET entry 0 name)
  list(GET entry 1 script)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/${script} DESTINATION ${tavro_tool_dir}
          COMPONENT tools)
  file(RELATIVE_PATH target /${CMAKE_INSTALL_BINDIR} /${tavro_tool_dir}/${script})
  file(CREATE_LINK ${target} ${tavro_made}/bin/${name} SYMBOLIC)
  install(FILES ${tavro_made}/bin/${name} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  if(TAVRO_PYTHON3)
    set(others tavro ${TAVRO_TOOL_NAMES})
    list(REMOVE_ITEM others ${name})
    add_custom_command(OUTPUT ${TAVRO_MANPAGE_DIR}/${name}.1
                       COMMAND ${TAVRO_PYTHON3} ${tavro_make_manpage} tool
                               ${TAVRO_MANPAGE_DIR}/${name}.1 ${name}
                               ${PROJECT_SOURCE_DIR}/scripts/${script} ${tavro_changelog}
                               ${PROJECT_VERSION} ${others}
                       DEPENDS ${tavro_make_manpage} ${PROJECT_SOURCE_DIR}/scripts/${script}
                               ${tavro_changelog}
                       VERBATIM)
    tavro_gzip(${TAVRO_MANPAGE_DIR}/${name}.1 ${TAVRO_MANPAGE_DIR}/${name}.1.gz)
    install(FILES ${TAVRO_MANPAGE_DIR}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT tools)
  endif()
endforeach()
foreach(module IN LISTS TAVRO_TOOL_MODULES)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/scripts/${module} DESTINATION ${tavro_tool_dir}
          COMPONENT tools PATTERN __pycache__ EXCLUDE)
endforeach()
# The records' schema beside the modules that check records against it, and
# with the description of the records among the documents.
install(FILES ${PROJECT_SOURCE_DIR}/docs/result.schema.json
        DESTINATION ${tavro_tool_dir}/tavro_results COMPONENT tools)
tavro_gzip(${PROJECT_SOURCE_DIR}/docs/results.md ${tavro_made}/results.md.gz)
install(FILES ${tavro_made}/changelog.gz ${tavro_copyright} ${tavro_made}/results.md.gz
              ${PROJECT_SOURCE_DIR}/docs/result.schema.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavro-tools COMPONENT tools)

add_custom_target(tavro_documents ALL DEPENDS ${tavro_made_files})
