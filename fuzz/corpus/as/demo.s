# Korvane demo firmware: 16-colour display, keys, a persistent counter, files on drive C,
# a serial echo on port1 and a blinking marker driven by system_timer.
#
# Display: 640 x 480, planar, 80 bytes per row at 0x900A0000; ports at 0x800003C0 + n.
# Registers: procedures take their arguments in g0-g4 and keep their own state in r3-r15,
# which every call gets fresh in its new frame.

	.file	"demo.s"

	.set	VMEM, 0x900a0000
	.set	PORT_SEQ, 0x800003c4	# sequencer index; data at +1
	.set	PORT_GFX, 0x800003ce	# graphics index; data at +1
	.set	PORT_CRT, 0x800003d4	# CRT index; data at +1

	.set	CURSOR_MAX_X, 39
	.set	CURSOR_MIN_Y, 15
	.set	CURSOR_MAX_Y, 49

	.text
	.globl	_start
_start:
	callx	x$cleartext
	callx	x$init_rtc
	callx	x$init_ports

	# Page B: a single line of text, drawn while graphics register 9 selects it.
	mov	1,g0
	call	select_drawing_page
	ldconst	24,g0
	ldconst	232,g1
	lda	text_page_b,g2
	mov	14,g3
	call	draw_text
	mov	0,g0
	call	select_drawing_page

	call	draw_static_screen
	call	draw_counter
	call	draw_cursor
	lda	text_ready,g0
	call	show_status
	call	open_port1

main_loop:
	callx	x$readkeys
	call	handle_keys
	call	blink
	call	echo_port1
	b	main_loop

# --- key handling -----------------------------------------------------------

handle_keys:
	ldob	N_ENTER,r3
	cmpobe	0,r3,1f
	ld	enter_count,r4
	addo	1,r4,r4
	st	r4,enter_count
	call	draw_counter
1:	ldob	N_UP,r3
	cmpobe	0,r3,1f
	mov	0,g0
	mov	1,g1		# up: y - 1
	call	move_cursor
1:	ldob	N_DOWN,r3
	cmpobe	0,r3,1f
	mov	0,g0
	mov	2,g1		# down: y + 1
	call	move_cursor
1:	ldob	N_LEFT,r3
	cmpobe	0,r3,1f
	mov	1,g0		# left: x - 1
	mov	0,g1
	call	move_cursor
1:	ldob	N_RIGHT,r3
	cmpobe	0,r3,1f
	mov	2,g0		# right: x + 1
	mov	0,g1
	call	move_cursor
1:	ldob	N_Fn2,r3
	cmpobe	0,r3,1f
	call	write_file
1:	ldob	N_Fn3,r3
	cmpobe	0,r3,1f
	call	list_drive
1:	ldob	N_Fn4,r3
	cmpobe	0,r3,1f
	call	toggle_page
1:	# digits: N_0 ... N_9 are consecutive bytes
	lda	N_0,r5
	mov	0,r6
2:	addo	r5,r6,r7
	ldob	(r7),r3
	cmpobe	0,r3,3f
	mov	r6,g0
	call	add_digit
3:	addo	1,r6,r6
	cmpobg	10,r6,2b
	ret

# g0: 0 keep x, 1 left, 2 right; g1: 0 keep y, 1 up, 2 down.
move_cursor:
	mov	g0,r10
	mov	g1,r11
	mov	0,g0		# erase the old box
	call	paint_cursor
	ld	cursor_x,r3
	ld	cursor_y,r4
	cmpobne	1,r10,1f
	cmpobe	0,r3,1f
	subo	1,r3,r3
1:	cmpobne	2,r10,1f
	ldconst	CURSOR_MAX_X,r5
	cmpobe	r5,r3,1f
	addo	1,r3,r3
1:	cmpobne	1,r11,1f
	cmpobe	CURSOR_MIN_Y,r4,1f
	subo	1,r4,r4
1:	cmpobne	2,r11,1f
	ldconst	CURSOR_MAX_Y,r5
	cmpobe	r5,r4,1f
	addo	1,r4,r4
1:	st	r3,cursor_x
	st	r4,cursor_y
	call	draw_cursor
	ret

draw_cursor:
	ldconst	224,g0		# red
	call	paint_cursor
	ret

# g0: palette index of the cursor box.
paint_cursor:
	mov	g0,r3
	ld	cursor_x,g0
	ld	cursor_y,g1
	shlo	3,g1,g1
	mov	1,g2
	mov	8,g3
	mov	r3,g4
	call	fill_cells
	ret

# g0: the digit 0-9. Appends it to the digit line (16 places, then it starts again).
add_digit:
	ld	digit_count,r3
	cmpobne	16,r3,1f
	mov	0,r3
	lda	digits_text,r4
	ldconst	0x20,r5
	mov	0,r6
2:	addo	r4,r6,r7
	stob	r5,(r7)
	addo	1,r6,r6
	cmpobg	16,r6,2b
1:	lda	digits_text,r4
	addo	r4,r3,r4
	ldconst	0x30,r5
	addo	g0,r5,r5
	stob	r5,(r4)
	addo	1,r3,r3
	st	r3,digit_count
	ldconst	10,g0
	ldconst	64,g1
	lda	digits_text,g2
	mov	15,g3
	call	draw_text
	ret

draw_counter:
	ldconst	15,g0
	ldconst	56,g1
	ld	enter_count,g2
	mov	10,g3
	call	draw_number
	ret

# Toggles the shown page through CRT register 27 (bit 0 selects page B).
toggle_page:
	ld	shown_page,r3
	xor	1,r3,r3
	st	r3,shown_page
	ldconst	PORT_CRT,r4
	ldconst	0x1b,r5
	stob	r5,(r4)
	stob	r3,1(r4)
	ret

# g0: 0 draws on page A, 1 on page B (graphics register 9).
select_drawing_page:
	ldconst	PORT_GFX,r4
	mov	9,r5
	stob	r5,(r4)
	stob	g0,1(r4)
	ret

# Shows the system_timer marker in the top right corner, on for 512 ms, off for 512 ms.
blink:
	ld	system_timer,r3
	shro	9,r3,r3
	and	1,r3,r3
	ld	blink_state,r4
	cmpobe	r3,r4,1f
	st	r3,blink_state
	ldconst	78,g0
	mov	8,g1
	mov	1,g2
	mov	8,g3
	mov	0,g4
	cmpobe	0,r3,2f
	ldconst	252,g4		# yellow
2:	call	fill_cells
1:	ret

# --- serial echo on port1 ------------------------------------------------------

open_port1:
	lda	port1,r3
	ldconst	9600,r4
	st	r4,(r3)		# baud rate
	mov	8,r4
	stob	r4,4(r3)	# data bits
	mov	1,r4
	st	r4,8(r3)	# one stop bit
	mov	0,r4
	st	r4,12(r3)	# no parity
	stob	r4,16(r3)	# no RTS handshake
	stob	r4,17(r3)	# no CTS flow control
	mov	r3,g7
	callx	x$init_port
	st	g9,port_ok
	ret

echo_port1:
	ld	port_ok,r3
	cmpobe	0,r3,1f
	lda	port1,g7
	callx	x$read_port
	cmpobne	1,g9,1f
	lda	port1,r3
	ldob	24(r3),r4
	stob	r4,20(r3)
	mov	r3,g7
	callx	x$write_port
	# show the character on the status area
	ldconst	72,g0
	ldconst	424,g1
	mov	r4,g2
	mov	11,g3
	call	draw_char
1:	ret

# --- files on drive C ------------------------------------------------------------

# F2: writes C:\DEMO.TXT with the current ENTER count.
write_file:
	lda	request,r3
	ldconst	0x43,r4		# 'C'
	st	r4,4(r3)
	mov	0,r4
	st	r4,file_errnum
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_demo,r4
	st	r4,8(r3)
	mov	0,r4
	st	r4,file_errnum
	mov	r3,g7
	callx	x$delete_filemem	# so create finds no old file
	mov	0,r4
	st	r4,file_errnum
	mov	r3,g7
	callx	x$create_filemem
	cmpobe	0,g9,9f
	# file text: "ENTER PRESSES: nnnnn" CR LF
	ld	enter_count,g0
	lda	file_text_number,g1
	call	format_number
	lda	file_text,r4
	st	r4,8(r3)
	ldconst	file_text_end-file_text,r4
	st	r4,12(r3)
	mov	0,r4
	st	r4,file_errnum
	mov	r3,g7
	callx	x$write_filemem
	subo	1,0,r4		# -1: no date or time stamp given
	st	r4,28(r3)
	st	r4,32(r3)
	mov	0,r4
	st	r4,file_errnum
	mov	r3,g7
	callx	x$close_filemem
	lda	text_written,g0
	call	show_status
	ret
9:	lda	text_write_failed,g0
	call	show_status
	ret

# F3: lists up to 8 plain files of drive C's current directory.
list_drive:
	# clear the listing area first
	mov	0,r10
1:	ldconst	44,g0
	ldconst	120,g1
	shlo	3,r10,r11
	addo	r11,g1,g1
	lda	text_blank12,g2
	mov	10,g3
	call	draw_text
	addo	1,r10,r10
	cmpobg	8,r10,1b

	lda	request,r3
	ldconst	0x43,r4
	st	r4,4(r3)
	mov	0,r4
	st	r4,file_errnum
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	entries,r4
	st	r4,8(r3)
	mov	8,r4
	st	r4,12(r3)	# at most 8 entries
	lda	pattern_all,r4
	st	r4,36(r3)
	mov	0,r4
	stob	r4,40(r3)	# plain files only
	st	r4,file_errnum
	mov	r3,g7
	callx	x$read_dir_filemem
	ld	12(r3),r12	# entries delivered
	mov	0,r10
2:	cmpobge	r10,r12,3f
	cmpobe	8,r10,3f
	# copy the 11-byte packed name into a zero-terminated line
	lda	entries,r5
	ldconst	44,r6
	mulo	r10,r6,r6
	addo	r5,r6,r5
	lda	name_line,r6
	mov	0,r7
4:	addo	r5,r7,r8
	ldob	(r8),r9
	addo	r6,r7,r8
	stob	r9,(r8)
	addo	1,r7,r7
	cmpobg	11,r7,4b
	ldconst	44,g0
	ldconst	120,g1
	shlo	3,r10,r11
	addo	r11,g1,g1
	lda	name_line,g2
	mov	10,g3
	call	draw_text
	addo	1,r10,r10
	b	2b
3:	lda	text_listed,g0
	call	show_status
	ret

# --- drawing ---------------------------------------------------------------------------

draw_static_screen:
	# title and help
	ldconst	2,g0
	mov	8,g1
	lda	text_title,g2
	mov	14,g3
	call	draw_text
	ldconst	2,g0
	ldconst	24,g1
	lda	text_help1,g2
	mov	15,g3
	call	draw_text
	ldconst	2,g0
	ldconst	32,g1
	lda	text_help2,g2
	mov	15,g3
	call	draw_text
	ldconst	2,g0
	ldconst	56,g1
	lda	text_counter,g2
	mov	7,g3
	call	draw_text
	ldconst	2,g0
	ldconst	64,g1
	lda	text_digits,g2
	mov	7,g3
	call	draw_text
	ldconst	2,g0
	ldconst	424,g1
	lda	text_serial,g2
	mov	7,g3
	call	draw_text
	# a frame line above the cursor area and one above the soft keys
	mov	0,g0
	ldconst	112,g1
	ldconst	80,g2
	mov	1,g3
	ldconst	146,g4
	call	fill_cells
	mov	0,g0
	ldconst	440,g1
	ldconst	80,g2
	mov	1,g3
	ldconst	146,g4
	call	fill_cells
	# soft-key row: ten boxes of 64 pixels with separators and labels F1-F10
	mov	1,r10
1:	shlo	3,r10,r11
	ldconst	441,r12
2:	mov	r11,g0
	mov	r12,g1
	ldconst	0x80,g2
	mov	8,g3
	call	put_bits
	addo	1,r12,r12
	ldconst	480,r13
	cmpobg	r13,r12,2b
	addo	1,r10,r10
	cmpobg	10,r10,1b
	mov	0,r10
3:	shlo	3,r10,r11
	addo	3,r11,g0
	ldconst	456,g1
	lda	softkey_labels,g2
	shlo	2,r10,r12
	addo	r12,g2,g2
	mov	15,g3
	call	draw_text
	addo	1,r10,r10
	cmpobg	10,r10,3b
	ret

# g0: address of a zero-terminated message, shown on the status line (padded to 40 places).
show_status:
	mov	g0,r3
	ldconst	10,g0
	ldconst	416,g1
	lda	text_blank40,g2
	mov	0,g3
	call	draw_text
	ldconst	2,g0
	ldconst	416,g1
	lda	text_status,g2
	mov	7,g3
	call	draw_text
	ldconst	10,g0
	ldconst	416,g1
	mov	r3,g2
	mov	15,g3
	call	draw_text
	ret

# g0: value; g1: address of five bytes that receive it as decimal digits.
format_number:
	mov	g0,r3
	addo	4,g1,r4
	mov	0,r5
	ldconst	0x30,r8
1:	remo	10,r3,r6
	addo	r8,r6,r6
	subo	r5,r4,r7
	stob	r6,(r7)
	divo	10,r3,r3
	addo	1,r5,r5
	cmpobg	5,r5,1b
	ret

# g0: column; g1: pixel row; g2: value; g3: colour (0-15). Draws five decimal digits.
draw_number:
	mov	g0,r3
	mov	g1,r4
	mov	g3,r5
	mov	g2,g0
	lda	number_text,g1
	call	format_number
	mov	r3,g0
	mov	r4,g1
	lda	number_text,g2
	mov	r5,g3
	call	draw_text
	ret

# g0: column; g1: pixel row; g2: address of a zero-terminated text; g3: colour (0-15).
draw_text:
	mov	g0,r3
	mov	g1,r4
	mov	g2,r5
	mov	g3,r6
1:	ldob	(r5),r7
	cmpobe	0,r7,2f
	mov	r3,g0
	mov	r4,g1
	mov	r7,g2
	mov	r6,g3
	call	draw_char
	addo	1,r3,r3
	addo	1,r5,r5
	ldconst	80,r8
	cmpobg	r8,r3,1b
2:	ret

# g0: column; g1: pixel row; g2: character; g3: colour (0-15). Draws one 8x8 character.
draw_char:
	mov	g0,r3
	mov	g1,r4
	mov	g3,r6
	mov	g2,r5
	ldconst	32,r10
	ldconst	97,r11
	ldconst	122,r12
	cmpobg	r11,r5,1f	# lower case letters as upper case
	cmpobl	r12,r5,1f
	subo	r10,r5,r5
1:	cmpobg	r10,r5,2f	# below the font: blank
	ldconst	95,r11
	cmpobge	r11,r5,3f
2:	mov	r10,r5
3:	subo	r10,r5,r5
	shlo	3,r5,r5
	lda	font,r7
	addo	r7,r5,r5	# r5: the glyph's eight rows
	mov	0,r8
4:	addo	r5,r8,r9
	ldob	(r9),r9
	mov	r3,g0
	addo	r4,r8,g1
	mov	r9,g2
	mov	r6,g3
	call	put_bits
	addo	1,r8,r8
	cmpobg	8,r8,4b
	ret

# g0: column (byte 0-79); g1: pixel row; g2: eight pixel bits; g3: colour (0-15).
# Writes the four planes in order; the plane-3 write maps the whole group through the
# colour map, so pixels whose bit is clear become colour 0.
put_bits:
	ldconst	80,r3
	mulo	g1,r3,r3
	addo	g0,r3,r3
	ldconst	VMEM,r4
	addo	r4,r3,r3	# r3: the display byte
	ldconst	PORT_SEQ,r4
	mov	2,r5
	stob	r5,(r4)		# sequencer index 2: map mask
	mov	1,r5		# plane bit
1:	stob	r5,1(r4)
	and	g3,r5,r6
	mov	0,r7
	cmpobe	0,r6,2f
	mov	g2,r7
2:	stob	r7,(r3)
	shlo	1,r5,r5
	cmpobge	8,r5,1b
	ret

# g0: column; g1: pixel row; g2: columns; g3: rows; g4: palette index.
# Fills whole 8-pixel groups with map mask 15, which stores the palette index as it is.
fill_cells:
	ldconst	PORT_SEQ,r4
	mov	2,r5
	stob	r5,(r4)
	mov	15,r5
	stob	r5,1(r4)
	ldconst	VMEM,r6
	mov	0,r7		# row counter
1:	addo	g1,r7,r8
	ldconst	80,r9
	mulo	r9,r8,r8
	addo	g0,r8,r8
	addo	r6,r8,r8
	mov	0,r10
2:	addo	r8,r10,r11
	stob	g4,(r11)
	addo	1,r10,r10
	cmpobg	g2,r10,2b
	addo	1,r7,r7
	cmpobg	g3,r7,1b
	ret

# --- routines the emulator stands in for ------------------------------------------------
# On the device these are library routines; under the emulator their calls run native code.

	.globl	x$cleartext
x$cleartext:
	ret
	.globl	x$readkeys
x$readkeys:
	ret
	.globl	x$init_rtc
x$init_rtc:
	ret
	.globl	x$init_ports
x$init_ports:
	ret
	.globl	x$init_port
x$init_port:
	ret
	.globl	x$read_port
x$read_port:
	ret
	.globl	x$write_port
x$write_port:
	ret
	.globl	x$start_parse_dir_filemem
x$start_parse_dir_filemem:
	ret
	.globl	x$create_filemem
x$create_filemem:
	ret
	.globl	x$delete_filemem
x$delete_filemem:
	ret
	.globl	x$write_filemem
x$write_filemem:
	ret
	.globl	x$close_filemem
x$close_filemem:
	ret
	.globl	x$read_dir_filemem
x$read_dir_filemem:
	ret

# --- data -----------------------------------------------------------------------------------

	.data
	.globl	korvane_version
korvane_version:
	.word	1
cursor_x:
	.word	10
cursor_y:
	.word	25
text_title:
	.asciz	"KORVANE DEMO FIRMWARE"
text_help1:
	.asciz	"ARROWS MOVE THE BOX   DIGITS TYPE   ENTER COUNTS"
text_help2:
	.asciz	"F2 WRITES C:DEMO.TXT   F3 LISTS DRIVE C   F4 PAGE   CTRL+X SAVE+EXIT"
text_counter:
	.asciz	"ENTER COUNT:"
text_digits:
	.asciz	"DIGITS:"
text_serial:
	.asciz	"SERIAL ECHO ON PORT1, LAST CHARACTER:"
text_status:
	.asciz	"STATUS:"
text_ready:
	.asciz	"READY"
text_written:
	.asciz	"C:DEMO.TXT WRITTEN"
text_write_failed:
	.asciz	"WRITING C:DEMO.TXT FAILED"
text_listed:
	.asciz	"DRIVE C LISTED"
text_page_b:
	.asciz	"PAGE B OF THE DEMO - F4 RETURNS TO PAGE A"
text_blank12:
	.asciz	"            "
text_blank40:
	.asciz	"                                        "
softkey_labels:
	.asciz	"F1 "
	.asciz	"F2 "
	.asciz	"F3 "
	.asciz	"F4 "
	.asciz	"F5 "
	.asciz	"F6 "
	.asciz	"F7 "
	.asciz	"F8 "
	.asciz	"F9 "
	.asciz	"F10"
name_demo:
	.ascii	"DEMO    TXT"
pattern_all:
	.ascii	"***********"
digits_text:
	.asciz	"                "
number_text:
	.asciz	"00000"
name_line:
	.asciz	"           "
file_text:
	.ascii	"ENTER PRESSES: "
file_text_number:
	.ascii	"00000"
	.byte	13,10
file_text_end:

# --- zeroed data: variables the emulator knows by name, key flags and their twins ------------

	.bss
	.globl	system_timer
	.align	2
system_timer:
	.space	4
	.globl	file_errnum
file_errnum:
	.space	4
	.globl	navigate_msg_mode
navigate_msg_mode:
	.space	4
	.globl	korvane_active
korvane_active:
	.space	1
	.globl	rtc_present
rtc_present:
	.space	1
	.globl	rtc_backup_ok
rtc_backup_ok:
	.space	1
	.globl	onkey
onkey:
	.space	1
	.globl	newonkey
newonkey:
	.space	1
	.globl	readkeys_ch
readkeys_ch:
	.space	3
# Key flags: one byte per key, all within 64 bytes; their twins follow 32 bytes later.
	.globl	N_NOKEY
N_NOKEY:
	.space	1
	.globl	N_UP
N_UP:
	.space	1
	.globl	N_DOWN
N_DOWN:
	.space	1
	.globl	N_LEFT
N_LEFT:
	.space	1
	.globl	N_RIGHT
N_RIGHT:
	.space	1
	.globl	N_ENTER
N_ENTER:
	.space	1
	.globl	N_EXIT
N_EXIT:
	.space	1
	.globl	N_Fn1
N_Fn1:
	.space	1
	.globl	N_Fn2
N_Fn2:
	.space	1
	.globl	N_Fn3
N_Fn3:
	.space	1
	.globl	N_Fn4
N_Fn4:
	.space	1
	.globl	N_0
N_0:
	.space	1
	.globl	N_1
N_1:
	.space	1
	.globl	N_2
N_2:
	.space	1
	.globl	N_3
N_3:
	.space	1
	.globl	N_4
N_4:
	.space	1
	.globl	N_5
N_5:
	.space	1
	.globl	N_6
N_6:
	.space	1
	.globl	N_7
N_7:
	.space	1
	.globl	N_8
N_8:
	.space	1
	.globl	N_9
N_9:
	.space	12
key_twins:
	.space	11
	.globl	T_0
T_0:
	.space	21
	.align	2
digit_count:
	.space	4
shown_page:
	.space	4
blink_state:
	.space	4
port_ok:
	.space	4
	.globl	port1
port1:
	.space	28
request:
	.space	48
entries:
	.space	352	# 8 directory records of 44 bytes

# --- battery-backed data: kept in demo.mem between runs -------------------------------------

	.section .absd
	.globl	enter_count
enter_count:
	.space	4
	.space	60
