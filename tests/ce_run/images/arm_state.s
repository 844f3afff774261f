@ ARM state, based at 0x20000 (the test makes it an ARM program): calls
@ DeleteFileW without BX, as ARMv4 must, on L"*", which its 42 also spells,
@ then returns 42 by MOV PC, LR.  LLVM has no ARM state for Windows.
	.text
	.globl	start
	.p2align	2
start:
	.long	0xE92D4010	@ push	{r4, lr}
	.long	0xE59F001C	@ ldr	r0, value_address
	.long	0xE59F101C	@ ldr	r1, slot_address
	.long	0xE5911000	@ ldr	r1, [r1]
	.long	0xE1A0E00F	@ mov	lr, pc
	.long	0xE1A0F001	@ mov	pc, r1
	.long	0xE59F0008	@ ldr	r0, value_address
	.long	0xE5900000	@ ldr	r0, [r0]
	.long	0xE8BD4010	@ pop	{r4, lr}
	.long	0xE1A0F00E	@ mov	pc, lr
value_address:
	.long	value
slot_address:
	.long	__imp_DeleteFileW
	.section	.rdata,"dr"
value:
	.long	42
