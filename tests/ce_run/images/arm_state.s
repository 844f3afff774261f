@ ARM state code (the test makes it an ARM, 0x1C0, program entered at an
@ even address): calls COREDLL's DeleteFileW as ARMv4 code must, without
@ BX, then returns 42, read through an absolute address (HIGHLOW), by
@ MOV PC, LR.  LLVM assembles no ARM state for Windows: hence the words.
	.text
	.globl	start
	.p2align	2
start:
	.long	0xE92D4010	@ push	{r4, lr}
	.long	0xE59F001C	@ ldr	r0, name_address
	.long	0xE59F101C	@ ldr	r1, slot_address
	.long	0xE5911000	@ ldr	r1, [r1]
	.long	0xE1A0E00F	@ mov	lr, pc
	.long	0xE1A0F001	@ mov	pc, r1
	.long	0xE59F0010	@ ldr	r0, value_address
	.long	0xE5900000	@ ldr	r0, [r0]
	.long	0xE8BD4010	@ pop	{r4, lr}
	.long	0xE1A0F00E	@ mov	pc, lr
name_address:
	.long	name
slot_address:
	.long	__imp_DeleteFileW
value_address:
	.long	value
	.section	.rdata,"dr"
	.p2align	2
name:
	.short	0x5C, 0x78, 0	@ L"\x"
	.p2align	2
value:
	.long	42
