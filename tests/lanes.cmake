# Read by CTest after the discovered tests of every test program: puts each
# test in its lane and gives it a time-out that fits it.
#
#   unit     no child process, no pseudo-terminal, no fixed real-time sleep:
#            logic on recording links, in-memory lines and stepped clocks, and
#            the offscreen windows. `ctest --preset default -L unit`.
#   process  a pseudo-terminal, the simulator, a child program or a fork
#            (death tests), or real time that the test is about.
#   soak     the long random run.
#
# A test is in `unit` unless a pattern below names it. Patterns match the
# whole CTest name (Suite.Case, or Suite/Case.Param/N for parameterised ones).

set(morvia_process_patterns
  "DeathTest\\."
  "^SerialLibrary\\."
  "^SerialPortPty\\."
  "^DvdsimProgram\\."
  "^DvdsimSimulator\\."
  "^SerOutPort\\.(OpensAPseudoTerminal|PortThatDoesNotExist|LongReply|HungUpLine|ReopensTheNamedLine|ManyLinks)"
  "^LinkIntegration\\."
  "^PlayerSystem\\."
  "^TCThreadTest\\."
  "^EditPort\\."
  "^EditPortOpening\\.UnavailablePort"
  "^EdlTool\\."
  "^LineConnection\\.AClientThatNeverReads"
  "^KeysOnPlayer\\."
  "^NetworkOnPlayer\\."
  "^LineFaults\\."
  "^LinkRecovery\\."
  "^SaveFaults\\."
  "^UnitOffProcess\\."
  "^AppEndToEnd\\."
  "^SessionLogProcess\\."
  "^Launcher\\."
  "^StartupProcess\\."
  "^ScaledWindows\\."
  "^SerialServerLink\\."
  "^SerialServerStartup\\."
  "^ControllerStress\\.")
set(morvia_soak_patterns "^Soak\\.")

# Time-outs in seconds: the lane's, and the tests that need more (several
# times what they take on a loaded two-core machine under a sanitizer).
set(morvia_unit_timeout 20)
set(morvia_process_timeout 60)
set(morvia_soak_timeout 600)
set(morvia_long_tests
  "^UnitOffProcess\\." 240
  "^StartupProcess\\." 180
  "^ScaledWindows\\." 120
  "^SerialServerLink\\." 120
  "^SerialServerStartup\\." 120
  "^AppEndToEnd\\." 180
  "^SessionLogProcess\\." 240
  "^LineFaults\\." 180
  "^LinkRecovery\\." 120
  "^KeysOnPlayer\\." 120
  "^NetworkOnPlayer\\." 120
  "^LinkIntegration\\." 180
  "^ControllerStress\\." 180
  "^ShippedProgram\\." 60)

function(morvia_lane test out_label out_timeout)
  set(label unit)
  set(timeout ${morvia_unit_timeout})
  foreach(lane process soak)
    foreach(p IN LISTS morvia_${lane}_patterns)
      if(test MATCHES "${p}")
        set(label ${lane})
        set(timeout ${morvia_${lane}_timeout})
      endif()
    endforeach()
  endforeach()
  set(long ${morvia_long_tests})
  while(long)
    list(POP_FRONT long p t)
    if(test MATCHES "${p}")
      set(timeout ${t})
    endif()
  endwhile()
  set(${out_label} ${label} PARENT_SCOPE)
  set(${out_timeout} ${timeout} PARENT_SCOPE)
endfunction()

foreach(program IN LISTS MORVIA_TEST_PROGRAMS)
  foreach(test IN LISTS ${program}_TESTS)
    morvia_lane("${test}" label timeout)
    set_tests_properties("${test}" PROPERTIES LABELS ${label} TIMEOUT ${timeout})
  endforeach()
endforeach()
