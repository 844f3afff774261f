@ ARMV4I: calls a function through BLX (ARMv5 on) and returns its 7.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	push	{r4, lr}
	ldr	r1, =seven
	.inst.n	0x4788		@ blx r1
	pop	{r4}
	pop	{r1}
	bx	r1
	.thumb_func
seven:
	movs	r0, #7
	bx	lr
