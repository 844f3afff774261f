@ Writes into its read-only data.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movw	r0, :lower16:constant
	movt	r0, :upper16:constant
	str	r0, [r0]
	bx	lr
	.section	.rdata,"dr"
	.p2align	2
constant:
	.long	1
