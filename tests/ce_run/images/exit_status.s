@ Returns 42 from the entry, read through a relocated pointer: MOVW/MOVT
@ (THUMB_MOV32) to the pointer, the pointer itself (HIGHLOW).
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
	bx	lr
	.section	.rdata,"dr"
	.p2align	2
pointer:
	.long	value
value:
	.long	42
