# The CPUs the launchers are built for, each by the kernel's name for it
# (uname -m, as Ansible's ansible_architecture reports it; i386 for every
# 32-bit x86, armv7l for 32-bit ARM with hard float). For each: the prefix
# of Debian's GNU compiler for it ("" for the machine's own), musl's
# directory below /usr/include and /usr/lib ("" where Debian 12 has no musl
# for it: compiled here from Debian's musl source package), and the
# directories holding the kernel's linux/ and asm/ headers for it.
set(VORLAN_ARCHES x86_64 i386 aarch64 armv7l ppc64le s390x riscv64)
set(VORLAN_CPU_x86_64 ";x86_64-linux-musl;/usr/include:/usr/include/x86_64-linux-gnu")
set(VORLAN_CPU_i386 "i686-linux-gnu-;i386-linux-musl;/usr/i686-linux-gnu/include")
set(VORLAN_CPU_aarch64 "aarch64-linux-gnu-;aarch64-linux-musl;/usr/aarch64-linux-gnu/include")
set(VORLAN_CPU_armv7l "arm-linux-gnueabihf-;arm-linux-musleabihf;/usr/arm-linux-gnueabihf/include")
set(VORLAN_CPU_ppc64le "powerpc64le-linux-gnu-;powerpc64le-linux-musl;/usr/powerpc64le-linux-gnu/include")
set(VORLAN_CPU_s390x "s390x-linux-gnu-;s390x-linux-musl;/usr/s390x-linux-gnu/include")
set(VORLAN_CPU_riscv64 "riscv64-linux-gnu-;;/usr/riscv64-linux-gnu/include")
