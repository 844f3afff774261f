@ Calls a COREDLL function the runner does not provide.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movw	r1, :lower16:__imp_Sleep
	movt	r1, :upper16:__imp_Sleep
	ldr	r1, [r1]
	movs	r0, #1
	blx	r1
	bx	lr
