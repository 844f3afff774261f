@ Recurses without end.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	push	{r4, lr}
	bl	start
	pop	{r4, pc}
