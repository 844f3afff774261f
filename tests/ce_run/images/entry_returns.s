@ Returns 5 from the entry, every callee-saved register restored.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	push	{r4, r5, r6, r7, lr}
	mov	r4, r8
	mov	r5, r9
	mov	r6, r10
	mov	r7, r11
	push	{r4, r5, r6, r7}
	movs	r4, #0
	mov	r8, r4
	mov	r9, r4
	mov	r10, r4
	mov	r11, r4
	pop	{r4, r5, r6, r7}
	mov	r8, r4
	mov	r9, r5
	mov	r10, r6
	mov	r11, r7
	movs	r0, #5
	pop	{r4, r5, r6, r7, pc}
