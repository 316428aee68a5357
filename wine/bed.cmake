# The tests of one Wine bed: the shipped files of one architecture, run
# unchanged under Wine with that architecture's test-bed parts, against the
# stand-in's transcripts and reports (wine/CMakeLists.txt makes those).
#   quorvenal_wine_bed(ARCH SHIPPED_DIR)
# ARCH x86: the 32-bit files under 32-bit Wine, in the prefix's 32-bit side;
# the tests are wine.testbed.build, wine.prefix, wine.stop, conformance.wine,
# wine.program, walk.NAME and wine.qvcli, in wine-work/.
# ARCH x64: the 64-bit files under 64-bit Wine, on every host; the tests are
# wine64.testbed.build, wine64.prefix, wine64.stop, conformance.wine64,
# wine64.program, walk64.NAME and wine64.qvcli, in wine64-work/.
# The two beds have prefixes, work folders and resource locks of their own.
function(quorvenal_wine_bed arch shipped)
  if(arch STREQUAL "x86")
    set(bed wine)
    set(walk walk)
  else()
    set(bed wine64)
    set(walk walk64)
  endif()
  set(scripts ${CMAKE_CURRENT_SOURCE_DIR}/scripts)
  set(standin ${CMAKE_BINARY_DIR}/wine-work)
  set(work ${CMAKE_BINARY_DIR}/${bed}-work)
  set(prefix ${work}/prefix)
  set(testbed ${CMAKE_BINARY_DIR}/${bed}-testbed)
  if(NOT shipped)
    set(shipped ${CMAKE_BINARY_DIR}/no-${arch}-build-given)
  endif()
  set(arch_option --arch ${arch})

  # The test-bed parts and a fresh prefix, made by the tests.
  add_test(NAME ${bed}.testbed.build
           COMMAND ${scripts}/build-testbed.sh ${arch_option} ${CMAKE_SOURCE_DIR} ${testbed})
  set_tests_properties(${bed}.testbed.build PROPERTIES
    FIXTURES_SETUP ${bed}_testbed SKIP_RETURN_CODE 77 TIMEOUT 1200)
  add_test(NAME ${bed}.prefix COMMAND ${scripts}/make-prefix.sh ${prefix})
  set_tests_properties(${bed}.prefix PROPERTIES
    FIXTURES_SETUP ${bed}_prefix SKIP_RETURN_CODE 77 RESOURCE_LOCK ${bed} TIMEOUT 300)
  add_test(NAME ${bed}.stop COMMAND ${scripts}/stop-prefix.sh ${prefix})
  set_tests_properties(${bed}.stop PROPERTIES FIXTURES_CLEANUP ${bed}_prefix RESOURCE_LOCK ${bed})

  # The conformance client of the bed's architecture against the shipped driver.
  add_test(NAME conformance.${bed}
           COMMAND ${scripts}/conformance.sh ${arch_option} ${shipped} ${testbed} ${prefix}
                   ${standin}/standin-transcript.txt ${work}/conformance)
  set_tests_properties(conformance.${bed} PROPERTIES
    FIXTURES_REQUIRED "${bed}_testbed;${bed}_prefix;standin_transcript"
    SKIP_RETURN_CODE 77 RESOURCE_LOCK ${bed} TIMEOUT 900)

  # The program under Wine in Xvfb, with screenshots.
  add_test(NAME ${bed}.program
           COMMAND ${scripts}/program.sh ${arch_option} ${shipped} ${testbed} ${prefix} ${work}/program
                   ${standin}/program-standin-stdout.txt)
  set_tests_properties(${bed}.program PROPERTIES
    FIXTURES_REQUIRED "${bed}_testbed;${bed}_prefix;standin_walk" SKIP_RETURN_CODE 77
    RESOURCE_LOCK ${bed} TIMEOUT 600)

  # The same user scripts on the stand-in and, inside the shipped program's
  # dialog, under Wine: same reports, same diagnostics.
  file(GLOB walks ${scripts}/walks/*.script)
  foreach(script ${walks})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME ${walk}.${name}
             COMMAND ${scripts}/compare-walk.sh ${arch_option} $<TARGET_FILE:quorvenal> ${CMAKE_BINARY_DIR}
                     ${shipped} ${testbed} ${prefix} ${work}/walks/${name} ${script})
    set_tests_properties(${walk}.${name} PROPERTIES
      FIXTURES_REQUIRED "${bed}_testbed;${bed}_prefix" SKIP_RETURN_CODE 77 RESOURCE_LOCK ${bed}
      TIMEOUT 600)
  endforeach()

  # qvcli: the stand-in's and the shipped one under Wine, same output.
  add_test(NAME ${bed}.qvcli
           COMMAND ${scripts}/qvcli-compare.sh ${arch_option} $<TARGET_FILE:qvcli>
                   $<TARGET_FILE:quorvenal_driver> ${shipped} ${testbed} ${prefix} ${work}/qvcli)
  set_tests_properties(${bed}.qvcli PROPERTIES
    FIXTURES_REQUIRED "${bed}_testbed;${bed}_prefix" SKIP_RETURN_CODE 77 RESOURCE_LOCK ${bed} TIMEOUT 900)
endfunction()
