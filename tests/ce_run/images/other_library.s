@ Calls a function of another library.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movw	r1, :lower16:__imp_GetTickCount
	movt	r1, :upper16:__imp_GetTickCount
	ldr	r1, [r1]
	blx	r1
	bx	lr
