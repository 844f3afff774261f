@ Loops for ever.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	b	start
