@ ARMV4I: returns 3 by POP {PC}, which switches to ARM state only from
@ ARMv5 on (COREDLL, which called the entry, is ARM code).
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	push	{r4, lr}
	movs	r0, #3
	pop	{r4, pc}
