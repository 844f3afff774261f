@ wsprintfW(out, format, ...) with N "%s" and 1,000 arguments: the first P
@ point to L"", the rest to L"ab" but the last, 0x1234 (unmapped) unless P
@ is 1,000.  N and P come from the command line ("N P"); the arguments end
@ at the stack's top, so a 1,001st is unmapped.  Returns wsprintfW's result.
	.syntax unified
	.thumb
	.text
	.globl	start
	.p2align	2
	.thumb_func
start:
	movw	r12, :lower16:saved
	movt	r12, :upper16:saved
	stm.w	r12, {r4, r5, r6, r7, lr}
	mov	r0, r2
	bl	number
	mov	r4, r1
	bl	number
	mov	r5, r1
	subw	sp, sp, #3992
	sub	r6, sp, #8		@ argument i at r6 + 4i (0 and 1 go in r2, r3)
	movw	r0, :lower16:empty
	movt	r0, :upper16:empty
	movw	r1, :lower16:ab
	movt	r1, :upper16:ab
	movs	r7, #0
fill:
	cmp	r7, r5
	ite	lo
	movlo	r3, r0
	movhs	r3, r1
	str.w	r3, [r6, r7, lsl #2]
	adds	r7, #1
	cmp.w	r7, #1000
	bne	fill
	movw	r3, #0x1234
	cmp.w	r5, #1000
	it	lo
	strlo.w	r3, [r6, #3996]
	ldr	r2, [r6]
	ldr	r3, [r6, #4]
	movw	r1, :lower16:format_end
	movt	r1, :upper16:format_end
	sub.w	r1, r1, r4, lsl #2
	movw	r0, :lower16:out
	movt	r0, :upper16:out
	movw	r12, :lower16:__imp_wsprintfW
	movt	r12, :upper16:__imp_wsprintfW
	ldr.w	r12, [r12]
	blx	r12
	addw	sp, sp, #3992
	movw	r12, :lower16:saved
	movt	r12, :upper16:saved
	ldm.w	r12, {r4, r5, r6, r7, lr}
	bx	lr

@ r1 = the decimal number at r0; r0 past it and the character after it.
	.thumb_func
number:
	movs	r1, #0
1:	ldrh	r3, [r0], #2
	subs	r3, #48
	cmp	r3, #9
	bhi	2f
	add.w	r1, r1, r1, lsl #2
	add.w	r1, r3, r1, lsl #1
	b	1b
2:	bx	lr

	.section	.rdata,"dr"
	.p2align	2
empty:
	.short	0
ab:
	.short	97, 98, 0
	.p2align	2
	.rept	1001
	.short	37, 115
	.endr
format_end:
	.short	0

	.data
	.p2align	2
saved:
	.space	20
out:
	.space	2048
