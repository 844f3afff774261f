@ ARMV4I, based at 0x20000: returns 42, read through an absolute address
@ (HIGHLOW), so it runs only where its relocations are applied or its
@ base kept.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	ldr	r0, address
	ldr	r0, [r0]
	bx	lr
	.p2align	2
address:
	.long	value
	.section	.rdata,"dr"
	.p2align	2
value:
	.long	42
