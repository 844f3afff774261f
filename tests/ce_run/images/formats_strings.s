@ wsprintfW(out, format, ...) with N "%s" and 1,000 arguments ending at the
@ stack's top: the first P point to L"", the rest to L"ab" but the last,
@ 0x1234 (unmapped), unless P is 1,000.  The command line's two characters
@ are N and P.  Returns wsprintfW's result.
	.syntax unified
	.thumb
	.text
	.globl	start
	.thumb_func
start:
	movw	r12, :lower16:saved
	movt	r12, :upper16:saved
	stm.w	r12, {r4, r5, r6, lr}
	ldrh	r4, [r2]
	ldrh	r5, [r2, #2]
	subw	sp, sp, #3992
	sub	r6, sp, #8		@ argument i at r6 + 4i (0 and 1 go in r2, r3)
	movw	r0, :lower16:empty
	movt	r0, :upper16:empty
	adds	r1, r0, #2
	mov.w	r12, #0
fill:
	cmp	r12, r5
	ite	lo
	movlo	r3, r0
	movhs	r3, r1
	str.w	r3, [r6, r12, lsl #2]
	add.w	r12, r12, #1
	cmp.w	r12, #1000
	bne	fill
	movw	r3, #0x1234
	cmp.w	r5, #1000
	it	lo
	strlo.w	r3, [r6, #3996]
	ldrd	r2, r3, [r6]
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
	ldm.w	r12, {r4, r5, r6, lr}
	bx	lr
	.section	.rdata,"dr"
empty:
	.short	0, 97, 98, 0
	.rept	1001
	.short	37, 115
	.endr
format_end:
	.short	0
	.data
saved:
	.space	16
out:
	.space	2048
