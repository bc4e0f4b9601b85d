// The root program's pack (platform/common/RootPack.h), made by the build from authroot/ and
// carried in the program as it is: nothing of it is decoded until a chain needs it.
asm(".section .rodata\n"
    ".balign 16\n"
    ".globl tessera_authroot_pack\n"
    ".hidden tessera_authroot_pack\n"
    "tessera_authroot_pack:\n"
    ".incbin \"" TESSERA_AUTHROOT_PACK "\"\n"
    ".globl tessera_authroot_pack_end\n"
    ".hidden tessera_authroot_pack_end\n"
    "tessera_authroot_pack_end:\n"
    ".previous\n");
