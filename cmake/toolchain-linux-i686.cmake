# 32-bit x86 Linux, with Debian's multilib compilers: the stand-in's tests
# of the 32-bit arithmetic on machines that cannot run 32-bit Windows
# programs. qemu runs the programs, also where the kernel cannot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
foreach(kind C CXX EXE_LINKER SHARED_LINKER MODULE_LINKER)
  set(CMAKE_${kind}_FLAGS_INIT -m32)
endforeach()
find_program(QEMU_I386 qemu-i386-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_I386})
