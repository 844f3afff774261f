@ Reads the word at address 0.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movs	r0, #0
	ldr	r0, [r0]
	bx	lr
