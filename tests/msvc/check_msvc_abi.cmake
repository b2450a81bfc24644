# Fails the build unless DLL has the ABI of Microsoft's compiler:
#   every DLL imports from KERNEL32.dll alone;
#   network: OBJECTS hold MSVC tables (??_7) and public virtual __thiscall
#            members (@@UAE);
#   cdecl / stdcall: ordinal 6 is exported with no name, and OBJECTS define
#            _DecodeConfig (__cdecl) or _DecodeConfig@12 (__stdcall).
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${NM} ${OBJECTS} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)

function(fail why)
  message(FATAL_ERROR "${DLL} is not what the MSVC-ABI tests need: ${why}")
endfunction()

string(REGEX MATCHALL "DLL Name: [^\n]*" imports "${headers}")
foreach(import IN LISTS imports)
  string(TOUPPER "${import}" import)
  if(NOT import STREQUAL "DLL NAME: KERNEL32.DLL")
    fail("imports ${import}")
  endif()
endforeach()

if(EXPECT STREQUAL "network")
  if(NOT symbols MATCHES "\\?\\?_7[A-Za-z]+@")
    fail("no MSVC virtual table (??_7...) in its objects")
  endif()
  string(REGEX MATCHALL "\\?[A-Za-z0-9_]+@[^ \n]*@@UAE[^ \n]*" members "${symbols}")
  list(LENGTH members count)
  if(count LESS 13)
    fail("only ${count} public virtual __thiscall members (@@UAE), 13 expected")
  endif()
  return()
endif()

# The export table lists "ordinal RVA [name]"; ordinal 6 must have no name.
if(NOT headers MATCHES " 6 +0x[0-9a-f]+([ \n]|$)" OR headers MATCHES " 6 +0x[0-9a-f]+ +[A-Za-z_?]")
  fail("no nameless export with ordinal 6")
endif()
if(EXPECT STREQUAL "stdcall")
  set(name "_DecodeConfig@12")
else()
  set(name "_DecodeConfig")
endif()
if(NOT symbols MATCHES "T ${name}\n")
  fail("its objects define no ${name}")
endif()
