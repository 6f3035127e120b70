# Builds the MSI package of one bitness from an installed tree, with the
# distribution's msitools: wixl compiles vantric.wxs.in, msibuild then adds
# what this wixl cannot express.
#   cmake -DSTAGING=DIR -DCONFIG=textfile.args -DVERSION=1.1.0 -DARCH=x64|x86
#         -DOUTPUT=vantric-1.1.0-x64.msi -DWORK=DIR -P msi.cmake
# STAGING holds vantric.exe, check_vantric.exe, vantric.txt,
# check_vantric.txt and README-windows.txt; CONFIG is the sample argument
# file of the textfile writer. Two runs with the same inputs give packages
# with the same codes.
foreach(var STAGING CONFIG VERSION ARCH OUTPUT WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "msi.cmake: ${var} not set")
  endif()
endforeach()
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)

# One UpgradeCode per bitness, never to change: the 32-bit and the 64-bit
# package are two products that may sit side by side on a 64-bit machine.
# Everything else is derived from it, so that every build of one version
# has the same ProductCode and every version the same component codes.
if(ARCH STREQUAL "x64")
  set(UPGRADE_CODE 93C576E8-60DF-45CB-99C9-186C2C153E3D)
  set(PROGRAM_FILES ProgramFiles64Folder)
  set(WIN64 yes)
  set(base_attributes 256)  # msidbComponentAttributes64bit
elseif(ARCH STREQUAL "x86")
  set(UPGRADE_CODE 280966AC-775A-48B6-BE68-C6D43EDFC750)
  set(PROGRAM_FILES ProgramFilesFolder)
  set(WIN64 no)
  set(base_attributes 0)
else()
  message(FATAL_ERROR "msi.cmake: ARCH is x64 or x86, not ${ARCH}")
endif()
string(UUID PRODUCT_CODE NAMESPACE ${UPGRADE_CODE} NAME "product ${VERSION}" TYPE SHA1 UPPER)
foreach(component vantric.exe check_vantric.exe manuals textfile.args registry path statedir)
  string(UUID GUID_${component} NAMESPACE ${UPGRADE_CODE} NAME "component ${component}" TYPE SHA1 UPPER)
endforeach()

# wixl takes no absolute file names: sources are named from WORK.
foreach(var WORK OUTPUT STAGING CONFIG)
  get_filename_component(${var} ${${var}} ABSOLUTE)
endforeach()
file(MAKE_DIRECTORY ${WORK})
file(RELATIVE_PATH STAGING ${WORK} ${STAGING})
file(RELATIVE_PATH CONFIG ${WORK} ${CONFIG})
configure_file(${CMAKE_CURRENT_LIST_DIR}/vantric.wxs.in ${WORK}/vantric-${ARCH}.wxs @ONLY)
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${WIXL} -a ${ARCH} -o ${OUTPUT} vantric-${ARCH}.wxs WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "wixl failed on ${WORK}/vantric-${ARCH}.wxs: ${errors}")
endif()

# This wixl drops NeverOverwrite and Permanent: without them a major upgrade
# (which removes the old version first) would delete an edited argument file
# and install the sample again. msidbComponentAttributesPermanent (16) keeps it
# through the removal, NeverOverwrite (128) keeps the new sample off it.
math(EXPR config_attributes "${base_attributes} | 16 | 128")
# Nor does it know conditions of components, or the Environment table. The entry appends the install
# folder to the machine's PATH ('*') and takes it out again on removal ('-').
file(WRITE ${WORK}/Environment.idt
     "Environment\tName\tValue\tComponent_\r\n"
     "s72\tl255\tL255\ts72\r\n"
     "Environment\tEnvironment\r\n"
     "PATH\t=-*PATH\t[~];[INSTALLDIR]\tpath\r\n")
set(queries
    "UPDATE `Component` SET `Attributes` = ${config_attributes} WHERE `Component` = 'textfile.args'"
    "UPDATE `Component` SET `Condition` = 'ADDTOPATH = \"1\"' WHERE `Component` = 'path'"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
foreach(query ${queries})
  execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -q "${query}" RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild failed on ${OUTPUT} (${query}): ${errors}")
  endif()
endforeach()
# It also ignores Secure: the public properties are passed on to the
# installation itself however msiexec is started.
execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -q "UPDATE `Property` SET `Value` = 'ADDTOPATH;INSTALLDIR;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'"
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "msibuild failed on ${OUTPUT} (SecureCustomProperties): ${errors}")
endif()
execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -i ${WORK}/Environment.idt RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "msibuild failed on ${OUTPUT} (Environment table): ${errors}")
endif()
