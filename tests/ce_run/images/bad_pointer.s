@ Passes DeleteFileW a path pointer into unmapped memory.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movw	r0, #0x1234
	movw	r1, :lower16:__imp_DeleteFileW
	movt	r1, :upper16:__imp_DeleteFileW
	ldr	r1, [r1]
	blx	r1
	bx	lr
