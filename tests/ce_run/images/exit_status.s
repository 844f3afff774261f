@ Ends the process with ExitProcess(42), 42 read through a relocated pointer:
@ MOVW/MOVT (THUMB_MOV32) to the pointer, the pointer itself (HIGHLOW).
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movw	r0, :lower16:pointer
	movt	r0, :upper16:pointer
	ldr	r0, [r0]
	ldr	r0, [r0]
	movw	r1, :lower16:__imp_ExitProcess
	movt	r1, :upper16:__imp_ExitProcess
	ldr	r1, [r1]
	blx	r1
	.section	.rdata,"dr"
	.p2align	2
pointer:
	.long	value
value:
	.long	42
