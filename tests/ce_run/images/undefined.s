@ Executes a permanently undefined instruction.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	udf	#1
	bx	lr
