# A firmware that keeps a state busy: it opens a serial port, a file for reading and one for
# writing, moves the parse path into C:\LOGS and switches both display pages; then, every 256
# passes of its loop, copies a byte from IN.TXT to OUT.TXT, lists C:\LOGS, stores a pixel and a
# DAC component, and reads keys every 16384 passes. busy.out is this source assembled by
# korvane-as; the .kst files are states of it saved by each version of the state format.
	.set	PORT_GFX, 0x800003ce
	.set	PORT_CRT, 0x800003d4
	.set	PORT_DAC, 0x800003c9
	.set	VMEM, 0x900a0000
	.text
	.globl	_start
_start:
	callx	x$init_ports
	lda	port1,r3
	ldconst	9600,r4
	st	r4,(r3)
	mov	8,r4
	stob	r4,4(r3)
	mov	1,r4
	st	r4,8(r3)
	mov	0,r4
	st	r4,12(r3)
	stob	r4,16(r3)
	stob	r4,17(r3)
	mov	r3,g7
	callx	x$init_port
	st	g9,port_ok

	lda	request,r3
	ldconst	0x43,r4
	st	r4,4(r3)
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_in,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$open_filemem
	ld	44(r3),r4
	st	r4,in_handle
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_out,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$create_filemem
	ld	44(r3),r4
	st	r4,out_handle
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_logs,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$change_parse_dir_filemem

	ldconst	PORT_GFX,r4
	mov	9,r5
	stob	r5,(r4)
	mov	1,r5
	stob	r5,1(r4)		# draw on page B
	mov	5,r5
	stob	r5,(r4)
	stob	r5,1(r4)		# packed modes: two-colour expansion
	ldconst	PORT_CRT,r4
	ldconst	0x1b,r5
	stob	r5,(r4)
	mov	5,r5
	stob	r5,1(r4)		# show page B (bit 0 planar, bit 2 packed)

loop:
	ld	counter,r5
	addo	1,r5,r5
	st	r5,counter
	ldconst	255,r6
	and	r6,r5,r6
	cmpobne	0,r6,loop
	call	busy
	b	loop

busy:
	lda	request,r3
	ld	in_handle,r4
	st	r4,44(r3)
	lda	buffer,r4
	st	r4,8(r3)
	mov	1,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$read_filemem
	ld	out_handle,r4
	st	r4,44(r3)
	mov	1,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$write_filemem
	lda	entries,r4
	st	r4,8(r3)
	mov	2,r4
	st	r4,12(r3)
	lda	pattern_all,r4
	st	r4,36(r3)
	mov	0,r4
	stob	r4,40(r3)
	mov	r3,g7
	callx	x$read_dir_filemem
	ld	counter,r5
	ldconst	0x3fff,r6
	and	r6,r5,r6
	cmpobne	0,r6,1f
	callx	x$readkeys		# now and then, so that keys stay queued for a while
1:	ld	counter,r5
	shro	8,r5,r6
	ldconst	0xfff,r7
	and	r7,r6,r6
	ldconst	VMEM,r7
	addo	r7,r6,r7
	stob	r5,(r7)
	ldconst	PORT_DAC,r7
	stob	r6,(r7)
	ret
# The emulator's own routines take over at these addresses.
	.globl	x$init_ports
x$init_ports:
	ret
	.globl	x$init_port
x$init_port:
	ret
	.globl	x$start_parse_dir_filemem
x$start_parse_dir_filemem:
	ret
	.globl	x$open_filemem
x$open_filemem:
	ret
	.globl	x$create_filemem
x$create_filemem:
	ret
	.globl	x$change_parse_dir_filemem
x$change_parse_dir_filemem:
	ret
	.globl	x$read_filemem
x$read_filemem:
	ret
	.globl	x$write_filemem
x$write_filemem:
	ret
	.globl	x$read_dir_filemem
x$read_dir_filemem:
	ret
	.globl	x$readkeys
x$readkeys:
	ret
	.data
	.align	2
name_in:
	.ascii	"IN      TXT"
name_out:
	.ascii	"OUT     TXT"
name_logs:
	.ascii	"LOGS       "
pattern_all:
	.ascii	"***********"
	.bss
	.align	2
	.globl	system_timer
system_timer:
	.space	4
	.globl	file_errnum
file_errnum:
	.space	4
	.globl	port1
port1:
	.space	32
	.globl	readkeys_ch
readkeys_ch:
	.space	4
port_ok:
	.space	4
in_handle:
	.space	4
out_handle:
	.space	4
counter:
	.space	4
buffer:
	.space	4
request:
	.space	48
entries:
	.space	88
