@ Ends the process with ExitProcess(0) after changing r5.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movs	r5, #0
	movs	r0, #0
	movw	r1, :lower16:__imp_ExitProcess
	movt	r1, :upper16:__imp_ExitProcess
	ldr	r1, [r1]
	blx	r1
